#include "latin1.h"

namespace {

// The length of the UTF-8 sequence that lead starts, 0 for a byte that
// cannot start one.
size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether the second byte of a sequence led by lead is in range: after
// these leads a narrower range keeps out overlong forms (E0, F0),
// surrogates (ED) and code points beyond U+10FFFF (F4).
bool isSecondByte(unsigned char lead, unsigned char second) {
  unsigned char low = 0x80, high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  return second >= low && second <= high;
}

// Whether a well-formed sequence of length bytes starts at text[i].
bool isWellFormed(const std::string& text, size_t i, size_t length) {
  if (length == 0 || i + length > text.size()) return false;
  const auto lead = static_cast<unsigned char>(text[i]);
  if (length > 1 && !isSecondByte(lead, text[i + 1])) return false;
  for (size_t k = 2; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
  }
  return true;
}

// c itself, or '?' for a zero byte, which would make the document a
// binary file, and for the control codes 0x80 to 0x9F, where
// ISOLatin1Encoding draws accents.
char drawable(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte == 0 || (byte >= 0x80 && byte <= 0x9F) ? '?' : c;
}

// Decodes UTF-8; each character above U+00FF, each control code 0x80 to
// 0x9F, and each byte that is not part of a well-formed sequence (overlong,
// a surrogate, beyond U+10FFFF, cut short) becomes '?'.
std::string fromUtf8(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = sequenceLength(lead);
    if (!isWellFormed(text, i, length)) {
      out += '?';
      ++i;
      continue;
    }
    // Two-byte sequences led by 0xC2 or 0xC3 are U+0080 to U+00FF.
    if (length == 1) {
      out += drawable(text[i]);
    } else if (length == 2 && lead <= 0xC3) {
      out += drawable(
          static_cast<char>(((lead & 0x03) << 6) | (text[i + 1] & 0x3F)));
    } else {
      out += '?';
    }
    i += length;
  }
  return out;
}

}  // namespace

std::string toLatin1(const std::string& text) {
  if (!hasHighBytes(text) && text.find('\0') == std::string::npos) {
    return text;
  }
  return fromUtf8(text);
}

bool hasHighBytes(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return true;
  }
  return false;
}
