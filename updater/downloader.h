// Downloader: fetches base URL + relative path into the same relative path; main thread for the manifest, the worker for game files.
#pragma once

enum { UrlBufferSize = 400 };

// "http://" + host + "/Quorvane/", the host fixed when the program is built.
extern const char UpdateBaseUrl[];

// Downloads one file and logs exactly one outcome line. Returns true when the file was installed.
// expectedDigest, when not null and 40 hexadecimal characters, must match what arrived.
bool DownloadFile(const char* path, const char* expectedDigest = nullptr);

// Deletes every non-cookie entry of the URL cache; silent.
void PurgeUrlCache();
