#include "output_format.h"

#include <strings.h>

OutputFormat outputFormatOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return OutputFormat::kEps;
  }
  const char* extension = path.c_str() + dot + 1;
  if (strcasecmp(extension, "pdf") == 0) return OutputFormat::kPdf;
  if (strcasecmp(extension, "png") == 0) return OutputFormat::kPng;
  return OutputFormat::kEps;
}

const char* outputFormatName(OutputFormat format) {
  switch (format) {
    case OutputFormat::kPdf:
      return "PDF";
    case OutputFormat::kPng:
      return "PNG";
    case OutputFormat::kEps:
      break;
  }
  return "EPS";
}
