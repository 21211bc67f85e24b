// The render job: one ".settings" file turned into one sprite file per view angle.
//
// Life cycle (the caller's order, which the job relies on):
//   T2P5D_Manager job(progress);            // Create
//   job.RootDir = "...";                    // folder the settings and models are read from
//   job.Multisampled = GLView->Multisampled();
//   job.LoadSettings("units\\tank");        // settings + includes + models, centred, measured
//   job.RenderAll(inputs);                  // GL from here: textures, three passes per angle
//                                           // and frame (four with a normal map), gaps,
//                                           // palettes
//   job.SaveKXZ(); / job.Save2P5D();        // one file per angle below OutputDir
//
// Ownership: the manager owns its models, their material libraries, the sheets' planes and
// its built-in material library (JobMaterials). Everything is released by Clear or the
// destructor, at any stage.
//
// Loading needs no GL: a job can be loaded and inspected anywhere. RenderAll makes the
// models' GL side (textures, display lists) and draws with the inputs it is given.
//
// The passes address the view being drawn through a cursor: BeginView sets CurrentAngle
// and CurrentFrame, which RenderView and the sheet accessors read. The stages after the
// passes (gap removal, palettes, saving) take what they work on as arguments and leave
// the cursor alone. The accessors do not check bounds.
//
// Memory: while the passes run, a view is drawn and converted at full size in one work
// view (the View* accessors), but between passes each view keeps only the rectangle that
// holds its content (Views). The sheets are made at their cropped size once the common
// margins are known, so a job's memory grows with what its views contain, not with how
// many views it has.
//
// Failures are quarvel::Error exceptions naming the file (and line for text files): a
// settings, include or OBJ file that cannot be read (an include or model that does not
// exist below the root: MissingInputError), an include cycle, a frame line without a
// model file, a frame number
// below 1, a negative angle slot, a job with no angle, no frame or nothing drawn. Lines the
// job ignores (unknown keywords) and numbers that do not parse (which take defaults) are
// not errors (comment lines, starting with "#", ";" or "//", are ignored silently); each is
// reported as a warning "file:line: what was taken" through OnWarning and kept in Warnings.
#pragma once

#include "common/AngleSheet.h"
#include "common/Error.h"
#include "models/TextureFiles.h"
#include "output/OutputSet.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quarvel {

class TOBJFile;
class TOBJMaterialFile;
struct TScene;
struct TPendingFile;
class TGLModel;
struct TRenderInputs;

// What one view (angle, frame) keeps between the passes: the smallest rectangle of the
// full view outside which every pixel holds the background. Before the depth pass the
// background is the visual pass's empty colour (VisualBackground) and only Colour is
// kept; from the depth pass on it is depth 0 / BackgroundKey / side 0, and the rectangle
// is that of the pixels with depth.
struct TViewContent {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0; // 0: the whole view is background
  int32_t Height = 0;
  bool DepthKnown = false;
  std::vector<uint8_t> Colour; // Width * Height * 3, blue, green, red
  std::vector<uint8_t> Depth;  // Width * Height once DepthKnown
  std::vector<uint8_t> Side;   // Width * Height once the side pass kept it, else empty
  std::vector<uint8_t> Normal; // Width * Height * 3, red, green, blue, after the normal pass
};

// Where a frame's model comes from: a model file, or a scene file posed at a time of one
// of its clips ("scene" and "clip" lines).
struct TFrameSource {
  std::string File;   // as the line named it, with its extension
  std::string Clip;   // the clip as the line named it; "" for an OBJ file or a rest pose
  double Seconds = 0; // the time in the clip
};

struct TJobFrame {
  float MinY = 0;         // lowest vertex Y of the frame's model after centring
  float MaxY = 0;         // highest vertex Y
  int32_t ModelIndex = 0; // index into Models
  TFrameSource Source;
};

// Percent 0..100 and the job's status text; called synchronously between steps.
using TProgressCallback = std::function<void(int32_t Percent, const std::string& Text)>;
// One warning, already located ("units/tank.settings:4: ..."), called when it arises.
using TWarningCallback = std::function<void(const std::string& Text)>;

// A line of an expanded settings file and where it came from. Chain lists the files from
// the settings file down to the one that holds the line, as shown in messages (include
// cycle detection and its message).
struct TSettingsLine {
  std::string Text;
  std::string File;
  int Line = 0;
  std::shared_ptr<const std::vector<std::string>> Chain;
};

// An include or model file that does not exist below the root. A front end that knows
// how the root was chosen can add a hint (the command line's "did you mean --root ...?").
// The message is `what` followed by `note`, by default "(paths are relative to --root)".
class MissingInputError : public Error {
public:
  MissingInputError(const std::string& what, const std::string& name,
                    const std::string& note = "(paths are relative to --root)")
      : Error(what + " " + note), What_(what), Name_(name) {}
  // The message without its note.
  const std::string& WhatAlone() const { return What_; }
  // The missing file's name as the settings wrote it, relative to the root.
  const std::string& Name() const { return Name_; }

private:
  std::string What_;
  std::string Name_;
};

// How many warnings of one job a front end shows one by one; the rest are counted.
constexpr size_t MaxShownWarnings = 20;
// "and 312 more warnings" for the warnings beyond MaxShownWarnings of `total`; "" when
// there are none.
std::string MoreWarningsNote(size_t total);
// The lines a front end shows for a whole list of warnings: the first MaxShownWarnings,
// then the note on the rest when there is one.
std::vector<std::string> ShownWarnings(const std::vector<std::string>& warnings);

// Largest angle slot and frame number a settings file may use: a typo such as
// "frame 100000 a.obj" is refused instead of allocating sheets for it.
constexpr int32_t MaxAngleSlot = 4095;
constexpr int32_t MaxFrameNumber = 4096;
// Largest number of views (angles x frames) of one job. Each limit above alone still lets
// a settings file ask for 16.7 million views, whose records alone take gigabytes before
// anything is drawn; the product is refused at the line that crosses it.
constexpr int32_t MaxViews = 65536;

class T2P5D_Manager {
public:
  // Create: an empty job with its built-in materials ready.
  explicit T2P5D_Manager(TProgressCallback OnProgress, TWarningCallback OnWarning = {});
  ~T2P5D_Manager(); // Destroy
  T2P5D_Manager(const T2P5D_Manager&) = delete;
  T2P5D_Manager& operator=(const T2P5D_Manager&) = delete;

  // Empties angles, models, frames, sheets and warnings; Scale 1, ZMax 127. SingleOutput,
  // SettingsName, RootDir, OutputDir, JobMaterials and Multisampled stay.
  void Clear();

  // --- Settings (Settings.cpp) ---
  // Reads RootDir/Name.settings ("\" and "/" alike), expands includes, applies every line,
  // centres the models and measures every frame.
  void LoadSettings(const std::string& Name);
  // The include expansion alone: the lines of `file` with every include replaced. When
  // filesRead is given, every file read (the settings file, then each include as it is
  // expanded, empty ones too) is appended to it.
  std::vector<TSettingsLine> ExpandSettings(const std::string& file,
                                            std::vector<std::string>* filesRead = nullptr) const;
  // One settings line; Keyword in lower case. Warnings are located at CurrentLocation.
  void ApplySetting(const std::string& Keyword, const std::string& Argument);
  // Throws, located at the current line, when `angles` x `frames` exceeds MaxViews; `cause`
  // ("angle slot 300") says which line made it so, or is empty.
  void CheckViewCount(size_t angles, size_t frames, const std::string& cause) const;
  // The "scene" and "clip" lines.
  void ApplySceneSetting(const std::string& Keyword, const std::string& Argument);
  void SetAngle(int32_t Slot, int32_t Degrees);
  void SetFrame(int32_t Number, const std::string& FileName);
  // Frame Number is scene file File (relative to the root, with its extension) posed at
  // Seconds of clip Clip (a name or "#N"; "" for the rest pose).
  void SetSceneFrame(int32_t Number, const std::string& File, const std::string& Clip,
                     double Seconds);

  // --- Models (JobModels.cpp) ---
  int32_t LoadModel(const std::string& Name);
  // The scene file read once per job (Scenes), then posed: the index of the posed model in
  // Models, made once per file, clip and time.
  int32_t LoadSceneModel(const std::string& File, const std::string& Clip, double Seconds);
  const TScene& SceneFile(const std::string& File);
  void CentreModels();
  static void MeasureFrame(TJobFrame& Frame, const TOBJFile& Model);
  // The model names in index order (as the frame lines gave them, without extension).
  std::vector<std::string> ModelNames() const;
  // Decodes the textures of every model through one set (each file once, within
  // TextureLimits; models/TextureFiles.h) and reports through Warn what could not be
  // used; use(k, textures) then gets model k's pictures, which are freed when it returns
  // unless it keeps them. No GL: RenderAll does this to make the models' textures, and
  // `info job` to report the same warnings a render would. Throws when the job's decoded
  // textures would exceed TextureLimits.MaxTotalBytes.
  void DecodeTextures(const std::function<void(size_t, const TModelTextures&)>& use = {});

  // --- Render passes (Passes.cpp); needs the current GL context and GLView ---
  void RenderAll(const TRenderInputs& Inputs);
  // Makes the GL side of every model that has none yet (its textures; the display lists
  // follow at the first draw). RenderAll calls it first.
  void PrepareModels();
  // Draws the current frame at the current angle and reads the view back into Buffer
  // (rows bottom-up, BGR, or BGRA when Multisampled, no row padding).
  void RenderView(const TRenderInputs& Inputs, bool DepthPass, bool SidePass,
                  std::vector<uint8_t>& Buffer, bool NormalPass = false);
  // The visual view's colour margin and the model at its own scale (the modelview matrix
  // is the view's; both leave it scaled by Scale). Literal: 50 enlarged copies, each on a
  // cleared depth buffer, then the model. Claimed: the same copies smallest first, each
  // claiming the samples it covers in the stencil buffer (same bytes, less drawing).
  void DrawMarginLiteral(const TRenderInputs& Inputs, TGLModel* model);
  void DrawMarginClaimed(const TRenderInputs& Inputs, TGLModel* model);
  float MarginScale(int I) const;
  // The read-back conversions. Buffer holds ViewWidth x ViewHeight pixels as above.
  void StoreVisual(const uint8_t* Buffer);
  void StoreDepth(const uint8_t* Buffer); // picks the variant by Multisampled
  void StoreDepthMultisampled(const uint8_t* Buffer);
  void StoreDepthPlain(const uint8_t* Buffer);
  void StoreSide(const uint8_t* Buffer);
  // The normal pass's colours inside the current view's kept rectangle (Views), red,
  // green, blue.
  void StoreNormal(const uint8_t* Buffer);
  std::vector<uint8_t> DropAlpha(const uint8_t* Buffer) const;
  // Percent(A, F) of the pass reports; one view in all reports 100.
  int32_t ViewPercent(int32_t Angle, int32_t Frame) const;
  // Sizes Views to angles x frames (all empty) and the work view to ViewWidth x ViewHeight.
  void AllocateViews();
  // Selects view (Angle, Frame) and restores its full-size planes into the work view.
  void BeginView(int32_t Angle, int32_t Frame);
  // Keeps the work view's content rectangle as the current view's content.
  void KeepView();
  // The colour of an empty pixel in the visual pass's read-back after conversion: the
  // clear colour (black), or the key when the alpha channel said "not covered".
  void VisualBackground(uint8_t* Pixel) const;
  // Refuses a job that cannot be rendered (no angle, no frame) before anything is drawn.
  void CheckRenderable() const;

  // --- Plane accessors (no bounds checks) ---
  // The work view (full view size) of the view being drawn.
  uint8_t* ViewDepthPixel(int32_t X, int32_t Y);
  uint8_t* ViewColourPixel(int32_t X, int32_t Y);
  uint8_t* ViewSidePixel(int32_t X, int32_t Y);
  // The sheets (after gap removal).
  uint8_t* DepthPixel(int32_t X, int32_t Y);
  uint8_t* ColourPixel(int32_t X, int32_t Y);
  uint8_t* IndexPixel(int32_t X, int32_t Y);
  uint8_t* SidePixel(int32_t X, int32_t Y);
  uint8_t* SheetDepthPixel(TAngleSheet& Sheet, int32_t X, int32_t Y);
  // Element (X, Y) of frame Frame in one of Sheet's planes (BytesPerPixel 1, or 3 for
  // the colour plane).
  static uint8_t* PlanePixel(std::vector<uint8_t>& Plane, const TAngleSheet& Sheet, int32_t Frame,
                             int32_t X, int32_t Y, ptrdiff_t BytesPerPixel = 1);

  // --- Gap removal (Gaps.cpp) ---
  // Finds the common margins from the views' content rectangles and makes Sheets at the
  // cropped size from Views (which are released).
  void RemoveGaps();
  // Makes Sheets[Angle] of frames cut by the margins from the angle's views.
  void CropSheet(int32_t Angle, int32_t MarginX, int32_t MarginY);

  // --- Palettes and saving (Saving.cpp) ---
  void MakePalettes();
  void SaveSheets(TOutputFormat Format);
  void Save2P5D() { SaveSheets(TOutputFormat::Raw2P5D); }
  void SaveKXZ() { SaveSheets(TOutputFormat::KXZ); }
  // The files the job writes in Format below OutputDir, one angle per entry of Angles.
  TOutputSet OutputSet(TOutputFormat Format) const;
  // OutputDir + SettingsName + "_" + Angle + "." + format word ("\" becomes "/").
  std::string OutputName(int32_t Angle, TOutputFormat Format) const;
  // Writes NAME_a.colour.png (24-bit, magenta background), NAME_a.depth.png and
  // NAME_a.side.png (8-bit grey, plane bytes as they are) for every sheet below Dir.
  void DumpSheets(const std::string& Dir) const;

  // --- Fields, in the job's own order ---
  std::vector<int32_t> Angles;   // degrees per angle slot; slot index = sheet index
  std::vector<TJobFrame> Frames; // entry k is frame number k + 1
  std::vector<std::unique_ptr<TOBJFile>> Models;
  std::map<std::string, std::shared_ptr<const TScene>> Scenes; // scene files read, by name
  std::vector<std::unique_ptr<TGLModel>> GLModels; // entry k draws Models[k]; made by RenderAll
  std::vector<TAngleSheet> Sheets;
  std::vector<TViewContent> Views; // while rendering: entry Angle * frames + Frame
  TAngleSheet WorkView;            // one frame of ViewWidth x ViewHeight
  long double Scale = 1.0L;        // extended precision: the margin scales are formed from it
  uint8_t ZMax = 127;
  bool SingleOutput = false;
  std::string SettingsName; // as passed to LoadSettings, without ".settings"
  TProgressCallback OnProgress;
  int32_t CurrentFrame = 0;
  int32_t CurrentAngle = 0;
  std::unique_ptr<TOBJMaterialFile> JobMaterials;
  bool Multisampled = false;

  // Additions of this program (the job's surroundings made explicit).
  std::string RootDir = ".";      // the folder settings, includes and models are relative to
  std::string OutputDir;          // the folder output names are relative to ("" = current)
  std::string DumpSheetsDir;      // when set, RenderAll dumps the cropped planes there
  bool WaitForOutputLock = true;  // SaveSheets waits while another process writes the set
  int OutputLockLimitSeconds = 0; // ... for at most this long (0: as long as it takes)
  // How PNG sheets are written (output/OutputSet.h); with a normal map asked for,
  // RenderAll runs the normal pass. Default for the other formats.
  TSheetOptions SheetOptions;
  // zlib level of the PNG sheets: 3 keeps their encoding near 5 % of the example jobs'
  // time (bench/bench_png), where 6 reaches 8 % for files 15 % smaller.
  int PNGLevel = 3;
  std::string SettingsFile;                   // the settings file actually read (for messages)
  std::vector<std::string> SettingsFilesRead; // it and every include, as LoadSettings read them
  int32_t ViewWidth = 400; // size of every rendered view; RenderAll takes GLView's
  int32_t ViewHeight = 400;
  TWarningCallback OnWarning;
  std::vector<std::string> Warnings;
  TTextureLimits TextureLimits;          // RenderAll sets MaxDimension from the GL
  std::vector<std::string> WrittenFiles; // every sprite file the last save wrote, in order
  // Called by SaveSheets with the sprite files about to be written: may add files to the
  // set (the job's manifest), which are written with it all or nothing but not listed in
  // WrittenFiles, and may name files to remove once the set is in place (outputs of an
  // earlier render that this one no longer writes).
  std::function<void(std::vector<TPendingFile>& Set, std::vector<std::string>& Remove)> OnOutputSet;
  double GLSeconds = 0; // wall time inside RenderView (drawing and read-back) so far
  // Draws as first written: the colour margin with 51 draws and 50 depth clears instead
  // of the stencil-claimed copies, and the models' display lists face by face with the
  // material set and reset around every face. The pictures are the same byte for byte
  // (the benchmark and the tests compare both ways); changing it recompiles the lists.
  bool LiteralDrawing = false;

  // Where ApplySetting's warnings and errors point (set by LoadSettings per line).
  std::string CurrentFile;
  int CurrentLine = 0;

private:
  bool WorkDepthKnown = false; // the work view holds a depth pass (or a kept view with one)
  void Report(int32_t Percent, const std::string& Text);
  void Warn(const std::string& Text);
  std::string Here(const std::string& message) const;
  // Throws, at the current line, when the input `name` (a model or scene file named by
  // it) lies outside the root or, unless already `loaded`, is not found below it.
  void RequireInput(const char* kind, const std::string& name, bool loaded) const;
  std::string InRoot(const std::string& name) const;
  // RootDir as messages show it, ending in "/".
  std::string RootShown() const;
  void FillJobMaterials();
};

// ChangeFileExt(name, ""): drops the last extension of the last path component ("\" or
// "/" separate components); a name without one is returned as it is.
std::string RemoveFileExt(const std::string& name);

} // namespace quarvel
