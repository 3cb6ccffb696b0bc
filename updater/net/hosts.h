// The update hosts the launcher was built with (LAUNCHER_UPDATE_HOST): the origin, then up to three fallbacks for the
// file list; portable, read-only, any thread.
#pragma once

enum { MaxListHosts = 4 };

// The hosts' base URLs, "http://HOST[:PORT]/Quorvane/", the origin first; ListHostCount() is 1 to MaxListHosts.
// ListHostBaseUrl(0) equals the transport's UpdateBaseUrl.
int ListHostCount();
const char* ListHostBaseUrl(int index);
