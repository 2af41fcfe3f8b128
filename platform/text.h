// UTF-16 text, the game's own, and its UTF-8 form where it meets the host.
#pragma once

#include <string>

// Unpaired surrogates become U+FFFD, so every text has a host form.
std::string ToUtf8(const std::u16string& text);
// Malformed bytes become U+FFFD, one for each byte that starts no valid sequence.
std::u16string FromUtf8(const std::string& text);

// The host's own bytes (file names, arguments) as text and back, losing nothing: UTF-8 where it
// is well-formed, and each byte that starts no valid sequence as a lone surrogate U+DC80 to
// U+DCFF, which ToHostBytes turns back into that byte. ToHostBytes(FromHostBytes(b)) == b for
// every b; other lone surrogates, which no host bytes give, become U+FFFD.
std::u16string FromHostBytes(const std::string& bytes);
std::string ToHostBytes(const std::u16string& text);
