// Plane accessors, progress and warning reports, and small name helpers of the job.
// (Create, Destroy and Clear live with the models in JobModels.cpp, which knows them.)
#include "jobs/Manager.h"

#include "common/Error.h"
#include "common/FileLookup.h"

namespace quarvel {

uint8_t* T2P5D_Manager::ViewDepthPixel(int32_t X, int32_t Y) {
  return WorkView.DepthPlane.data() + static_cast<ptrdiff_t>(Y) * WorkView.SheetWidth + X;
}

uint8_t* T2P5D_Manager::ViewColourPixel(int32_t X, int32_t Y) {
  return WorkView.ColourPlane.data() + (static_cast<ptrdiff_t>(Y) * WorkView.SheetWidth + X) * 3;
}

uint8_t* T2P5D_Manager::ViewSidePixel(int32_t X, int32_t Y) {
  return WorkView.SidePlane.data() + static_cast<ptrdiff_t>(Y) * WorkView.SheetWidth + X;
}

uint8_t* T2P5D_Manager::DepthPixel(int32_t X, int32_t Y) {
  TAngleSheet& s = Sheets[static_cast<size_t>(CurrentAngle)];
  return s.DepthPlane.data() + static_cast<ptrdiff_t>(Y) * s.SheetWidth +
         static_cast<ptrdiff_t>(s.FrameWidth) * CurrentFrame + X;
}

uint8_t* T2P5D_Manager::ColourPixel(int32_t X, int32_t Y) {
  TAngleSheet& s = Sheets[static_cast<size_t>(CurrentAngle)];
  return s.ColourPlane.data() + (static_cast<ptrdiff_t>(Y) * s.SheetWidth +
                                 static_cast<ptrdiff_t>(s.FrameWidth) * CurrentFrame + X) *
                                    3;
}

uint8_t* T2P5D_Manager::IndexPixel(int32_t X, int32_t Y) {
  TAngleSheet& s = Sheets[static_cast<size_t>(CurrentAngle)];
  return s.IndexPlane.data() + static_cast<ptrdiff_t>(Y) * s.SheetWidth +
         static_cast<ptrdiff_t>(s.FrameWidth) * CurrentFrame + X;
}

uint8_t* T2P5D_Manager::SidePixel(int32_t X, int32_t Y) {
  TAngleSheet& s = Sheets[static_cast<size_t>(CurrentAngle)];
  return s.SidePlane.data() + static_cast<ptrdiff_t>(Y) * s.SheetWidth +
         static_cast<ptrdiff_t>(s.FrameWidth) * CurrentFrame + X;
}

uint8_t* T2P5D_Manager::SheetDepthPixel(TAngleSheet& Sheet, int32_t X, int32_t Y) {
  return Sheet.DepthPlane.data() + static_cast<ptrdiff_t>(Y) * Sheet.SheetWidth +
         static_cast<ptrdiff_t>(Sheet.FrameWidth) * CurrentFrame + X;
}

void T2P5D_Manager::Report(int32_t Percent, const std::string& Text) {
  if (OnProgress)
    OnProgress(Percent, Text);
}

void T2P5D_Manager::Warn(const std::string& Text) {
  Warnings.push_back(Text);
  if (OnWarning)
    OnWarning(Text);
}

std::string T2P5D_Manager::Here(const std::string& message) const {
  return Located(CurrentFile, CurrentLine, message);
}

std::string T2P5D_Manager::InRoot(const std::string& name) const {
  // A root of "." adds nothing to the names users see in messages.
  if (RootDir.empty() || RootDir == ".")
    return NormaliseSeparators(name);
  return JoinPath(RootDir, name);
}

std::string RemoveFileExt(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  const size_t sep = name.find_last_of("\\/:");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep))
    return name;
  return name.substr(0, dot);
}

} // namespace quarvel
