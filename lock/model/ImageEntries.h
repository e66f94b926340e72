#pragma once

#include "ConfigImage.h"

#include <cstdint>

namespace v38 {

// The image's prefix entries and service cards as the windows read and edit them.

// Copies the 20 raw bytes of card 1 (even k) or card 2 (odd k) to out.
void getServiceCard(const ConfigImage& image, int k, std::uint8_t out[20]);
// Decodes entry i into a position (0 = inactive) and a zero-terminated text of at most
// 7 characters; for i outside 0..99 both outputs are left untouched.
void getEntry(const ConfigImage& image, int i, int& position, char text[8]);
// Encodes and stores entry i: 0 stored, 1 index or position out of range, 2 a character
// outside the prefix alphabet (1 and 2 store nothing).
int setEntry(ConfigImage& image, int i, int position, const char* text);

} // namespace v38
