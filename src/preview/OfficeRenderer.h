#pragma once
// Office documents rendered to PDF by the office suite's converter, run
// headless as a child process of ours: with its own profile folder (the
// user's settings and running office programs are never touched), output
// into a folder of the caller's, within a time limit, and ended (with the
// processes it started, and no other) when the preview no longer wants it.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace corvan {

enum class OfficeRenderStatus : std::uint8_t {
  Rendered,
  Missing,   // no converter installed
  Failed,    // it ran but made no PDF
  TimedOut,
  Cancelled,
};

struct OfficeRender {
  OfficeRenderStatus status = OfficeRenderStatus::Failed;
  std::filesystem::path pdf;  // the PDF made, in the output folder
};

// The converter ("soffice" on the PATH); empty when there is none.
std::filesystem::path FindOfficeConverter();

inline constexpr std::chrono::seconds kOfficeRenderLimit{90};

// Renders `document` (whose extension tells the converter its kind) into
// `outDir` and returns the PDF file made there. `profile` is the converter's own
// profile folder. `cancelled` is polled while it runs.
OfficeRender RenderOfficeToPdf(const std::filesystem::path& program, const std::filesystem::path& document,
                               const std::filesystem::path& outDir, const std::filesystem::path& profile,
                               std::chrono::milliseconds limit, const std::function<bool()>& cancelled);

}  // namespace corvan
