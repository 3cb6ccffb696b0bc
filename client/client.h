// Start-up settings step and control of the game client process; main thread only.
#pragma once

// Writes the compatibility layers of Client.exe beside the launcher; a step of InitClientSettings.
void RegisterCompatibilityLayer();

// Starts Client.exe with its launch argument and ends the launcher with exit code 0.
[[noreturn]] void StartGameClient();
// Terminates every running process named Client.exe whose image is the current directory's
// Client.exe (or cannot be read); a client of another folder keeps running. Reports on the standard streams.
void StopGameClient();
