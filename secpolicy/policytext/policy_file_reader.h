// The line reader shared by every policy file kind, and the directory listing.
//
// Line syntax: "#" starts a comment that runs to the end of the line; tokens
// are separated by plain spaces only (tabs and carriage returns are token
// characters); there is no quoting. Lines are numbered from 1 over every
// physical line, so a number is the one an editor shows.
#pragma once

#include <deque>
#include <map>
#include <queue>
#include <string>

namespace SecPolicy {

using TokenQueue = std::queue<std::string, std::deque<std::string>>;

// Line number to the tokens of that line; lines without tokens are absent.
using ParsedPolicyFile = std::map<unsigned int, TokenQueue>;

// Full path (directory + "/" + name) to bare name, regular files only.
using PolicyFileList = std::map<std::string, std::string>;

// Adds one entry per line holding tokens. Lines are read through a fixed
// 1,024-byte buffer: a line longer than 1,023 characters yields its first
// 1,023 characters and ends the reading, silently, as does a read error.
// Throws "Unable to open policy file " + path.
void ParseFile(const std::string& path, ParsedPolicyFile& out);

TokenQueue ParsePolicyLine(const std::string& line);
TokenQueue StringToQueue(const std::string& text);

// Adds the regular files of `dir` (no recursion; links, subdirectories and
// entries of unknown type are left out). Throws
// "Unable to open policy directory " + dir.
void GetFileList(const std::string& dir, PolicyFileList& out);

// True for "grant", false for "revoke"; throws "invalid keyword " + word.
bool IsGrant(std::string& word);

}  // namespace SecPolicy
