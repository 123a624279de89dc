#pragma once
#include <string>
#include <vector>

// The playlist that plays a selection or all clips: a SMIL text ("AVCHD.wpl") that media players
// read, lines ending with CR LF. Paths keep their bytes; the characters XML gives a meaning to
// (& < > ") are written as entities so that a folder such as "Anna & Tom" still gives a
// well-formed playlist.
std::string MakePlaylistText(const std::vector<std::string>& paths);

// Writes the playlist to "AVCHD.wpl" in the private temporary folder and returns its path
// ("" when the folder cannot be had). False when the file could not be written completely.
bool WritePlaylistFile(const std::vector<std::string>& paths, std::string& filePath);
