#include <cstdlib>
#include <cstring>

#include "resultset.h"

namespace {

// A fresh array holding a copy of text, or null for an absent value.
char* copyText(const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = std::strlen(text);
  char* copy = new char[length + 1];
  std::memcpy(copy, text, length + 1);
  return copy;
}

}  // namespace

Variant::Variant() : data(nullptr) {}

Variant::Variant(const char* datap) : data(copyText(datap)) {}

Variant::Variant(const Variant& other) : data(copyText(other.data)) {}

Variant::~Variant() { delete[] data; }

Variant Variant::operator=(const Variant& other) {
  if (this != &other) {
    char* copy = copyText(other.data);
    delete[] data;
    data = copy;
  }
  return *this;
}

Variant::operator std::string() const {
  return data == nullptr ? std::string() : std::string(data);
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
