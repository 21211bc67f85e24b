// Plane accessors, progress and warning reports, and small name helpers of the job.
// (Create, Destroy and Clear live in ManagerCreate.cpp.)
#include "jobs/Manager.h"

#include "common/Error.h"
#include "common/FileLookup.h"

namespace quarvel {

uint8_t* T2P5D_Manager::PlanePixel(std::vector<uint8_t>& Plane, const TAngleSheet& Sheet,
                                   int32_t Frame, int32_t X, int32_t Y, ptrdiff_t BytesPerPixel) {
  return Plane.data() + (static_cast<ptrdiff_t>(Y) * Sheet.SheetWidth +
                         static_cast<ptrdiff_t>(Sheet.FrameWidth) * Frame + X) *
                            BytesPerPixel;
}

uint8_t* T2P5D_Manager::ViewDepthPixel(int32_t X, int32_t Y) {
  return PlanePixel(WorkView.DepthPlane, WorkView, 0, X, Y);
}

uint8_t* T2P5D_Manager::ViewColourPixel(int32_t X, int32_t Y) {
  return PlanePixel(WorkView.ColourPlane, WorkView, 0, X, Y, 3);
}

uint8_t* T2P5D_Manager::ViewSidePixel(int32_t X, int32_t Y) {
  return PlanePixel(WorkView.SidePlane, WorkView, 0, X, Y);
}

uint8_t* T2P5D_Manager::DepthPixel(int32_t X, int32_t Y) {
  TAngleSheet& s = Sheets[static_cast<size_t>(CurrentAngle)];
  return PlanePixel(s.DepthPlane, s, CurrentFrame, X, Y);
}

uint8_t* T2P5D_Manager::ColourPixel(int32_t X, int32_t Y) {
  TAngleSheet& s = Sheets[static_cast<size_t>(CurrentAngle)];
  return PlanePixel(s.ColourPlane, s, CurrentFrame, X, Y, 3);
}

uint8_t* T2P5D_Manager::IndexPixel(int32_t X, int32_t Y) {
  TAngleSheet& s = Sheets[static_cast<size_t>(CurrentAngle)];
  return PlanePixel(s.IndexPlane, s, CurrentFrame, X, Y);
}

uint8_t* T2P5D_Manager::SidePixel(int32_t X, int32_t Y) {
  TAngleSheet& s = Sheets[static_cast<size_t>(CurrentAngle)];
  return PlanePixel(s.SidePlane, s, CurrentFrame, X, Y);
}

uint8_t* T2P5D_Manager::SheetDepthPixel(TAngleSheet& Sheet, int32_t X, int32_t Y) {
  return PlanePixel(Sheet.DepthPlane, Sheet, CurrentFrame, X, Y);
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
  return RootRelative(RootDir, name);
}

std::string RemoveFileExt(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  const size_t sep = name.find_last_of("\\/:");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep))
    return name;
  return name.substr(0, dot);
}

} // namespace quarvel
