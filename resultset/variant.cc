#include <cstdlib>
#include <cstring>

#include "resultset.h"

namespace {

// A fresh array holding a copy of length bytes of text and a terminating
// zero byte, or null for an absent value.
char* copyText(const char* text, size_t length) {
  if (text == nullptr) return nullptr;
  char* copy = new char[length + 1];
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

size_t lengthOf(const char* text) {
  return text == nullptr ? 0 : std::strlen(text);
}

}  // namespace

Variant::Variant() : data(nullptr), length(0) {}

Variant::Variant(const char* datap) : Variant(datap, lengthOf(datap)) {}

Variant::Variant(const char* datap, size_t size)
    : data(copyText(datap, size)), length(datap == nullptr ? 0 : size) {}

Variant::Variant(const Variant& other)
    : data(copyText(other.data, other.length)), length(other.length) {}

Variant::~Variant() { delete[] data; }

Variant Variant::operator=(const Variant& other) {
  if (this != &other) {
    char* copy = copyText(other.data, other.length);
    delete[] data;
    data = copy;
    length = other.length;
  }
  return *this;
}

Variant::operator std::string() const {
  return data == nullptr ? std::string() : std::string(data, length);
}

Variant::operator double() const {
  return data == nullptr ? 0.0 : std::atof(data);
}

std::ostream& operator<<(std::ostream& stream, Variant v) {
  return stream << static_cast<std::string>(v);
}

namespace resultset {

double abs(double d) { return d >= 0 ? d : -d; }

}  // namespace resultset
