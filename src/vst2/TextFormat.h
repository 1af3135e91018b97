// Numbers as short texts for parameter displays: eight characters in all,
// fractions cut off (never rounded), "Huge!" for what does not fit. Every
// writer keeps the bound of copyText: at most maxLen characters, NUL at
// text[maxLen], nothing touched past it. A null text or negative maxLen
// writes nothing.
//
// Any thread; no allocation, real-time safe.
#pragma once

#include <cstdint>

namespace veltrosa::vst2edge {

// Integer digits first, then as many fraction digits as fill eight
// characters. When the integer digits alone fill the width (eight digits, or
// a minus sign and seven) the point is left out: "12345678", "-1234567".
// NaN writes "NaN".
void formatFloat(float value, char* text, int32_t maxLen);

// Up to nine digits; 100000000 and above write "Huge!", and so do negatives
// of ten digits, which have no place left for their sign.
void formatInt(int32_t value, char* text, int32_t maxLen);

// 20 log10(amplitude) through formatFloat; "-oo" for 0 and below.
void formatDecibels(float amplitude, char* text, int32_t maxLen);

}  // namespace veltrosa::vst2edge
