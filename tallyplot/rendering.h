// How the finished EPS document becomes what the output name asks for.
#ifndef TALLYPLOT_RENDERING_H_
#define TALLYPLOT_RENDERING_H_

#include <string>

#include "number_setting.h"
#include "output_format.h"

// The PNG's resolution in dots per inch: TALLYPLOT_PNG_DPI, or png-dpi in
// the option file. The top keeps the circle glyphs within what Ghostscript
// draws (up to 1,400 dpi); a letter page is then 13,200 by 10,200 pixels.
extern const NumberSetting kPngResolution;

// Turns the document into the output path's format: EPS is written as it
// is built; PDF (both pages) and PNG (the chart page) are rendered from it
// by Ghostscript, whose PostScript interpreter works out the page geometry.
class Rendering {
 public:
  explicit Rendering(std::string path);

  // Reads the PNG resolution, refused unless in range on every run, and,
  // for PDF and PNG, finds Ghostscript on PATH; call before any database
  // work. On false, error() holds the diagnostic line.
  bool prepare();

  // Replaces the EPS document by the bytes the path is to receive. On
  // false, error() holds the diagnostic line.
  bool apply(std::string& document);

  const std::string& error() const { return error_; }

 private:
  std::string path_;
  OutputFormat format_;
  int dpi_ = 0;
  std::string ghostscript_;
  std::string error_;
};

#endif  // TALLYPLOT_RENDERING_H_
