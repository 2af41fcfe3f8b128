// UTF-16 text, the game's own, and its UTF-8 form where it meets the host.
#pragma once

#include <string>

// Unpaired surrogates become U+FFFD, so every text has a host form.
std::string ToUtf8(const std::u16string& text);
// Malformed bytes become U+FFFD, one for each byte that starts no valid sequence.
std::u16string FromUtf8(const std::string& text);
