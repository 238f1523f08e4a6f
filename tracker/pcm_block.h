#pragma once
// Mixed float values to 16-bit PCM samples, little-endian, two bytes a value:
// each value clamped to -1.0..1.0, scaled by 32767 and truncated toward zero.

#include <cstddef>
#include <cstdint>

// With the vector code, or the plain loop when PLINTH_SCALAR=1 is set.
void floatsToPcm16(const float* values, size_t count, uint8_t* bytes);
// The plain loop over floatToSample, and the vector code that equals it.
void floatsToPcm16Reference(const float* values, size_t count, uint8_t* bytes);
void floatsToPcm16Vectors(const float* values, size_t count, uint8_t* bytes);
