#include "rendering.h"

#include <utility>
#include <vector>

#include "ghostscript.h"
#include "output_file.h"

const NumberSetting kPngResolution = {"TALLYPLOT_PNG_DPI", "png-dpi", 10, 1200,
                                      150};

namespace {

// Ghostscript's device and its settings for format: the PNG holds page 1,
// with text and lines smoothed.
std::vector<std::string> deviceFor(OutputFormat format, int dpi) {
  if (format == OutputFormat::kPdf) return {"-sDEVICE=pdfwrite"};
  return {"-sDEVICE=png16m",   "-r" + std::to_string(dpi),
          "-dFirstPage=1",     "-dLastPage=1",
          "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4"};
}

}  // namespace

Rendering::Rendering(std::string path)
    : path_(std::move(path)), format_(outputFormatOf(path_)) {}

bool Rendering::prepare() {
  dpi_ = readNumberSetting(kPngResolution, error_);
  if (!error_.empty()) return false;
  if (format_ == OutputFormat::kEps) return true;
  ghostscript_ = findGhostscript();
  if (!ghostscript_.empty()) return true;
  error_ = outputFileError(path_, std::string("writing ") +
                                      outputFormatName(format_) +
                                      " needs Ghostscript (gs), which is not "
                                      "on PATH; install it with apt-get "
                                      "install ghostscript") +
           "\n";
  return false;
}

bool Rendering::apply(std::string& document) {
  if (format_ == OutputFormat::kEps) return true;
  std::string rendered, reason;
  if (!renderWithGhostscript(ghostscript_, deviceFor(format_, dpi_), document,
                             rendered, reason)) {
    error_ = outputFileError(path_, reason) + "\n";
    return false;
  }
  document.swap(rendered);
  return true;
}
