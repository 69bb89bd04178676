// File helpers of the host's base library. Neither throws.
#pragma once

bool File_Exists(const char* path);
bool File_IsDirectory(const char* path);
