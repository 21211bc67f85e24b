// The program's window: the model preview on the left, the model and settings lists on
// a two-page notebook on the right.
//
// Layout: a fixed 927 x 583 window; every control has the place, size, caption and
// default listed below in the constructor. Controls keep the names users and the
// help texts know them by (Button12 is "Load", Button13 "Render" ...), and each event
// is a method of the same name that tests call directly or through the widget's
// callback.
//
// Pictures: every frame is drawn offscreen into the program's GL view (gl/GLView.h); the
// window registers a presenter that reads each finished picture back and shows it in
// OGLPanel. No GL window is involved, so the window works wherever the GL view does.
//
// Files: everything is addressed relative to ProgDir (the program folder, without a
// trailing separator). List entries are names relative to it without extension, with
// "/" between folders; "\" is accepted as well wherever a name is looked up.
//
// Notices ("Nothing Selected...") and error boxes go through the message sink
// (common/Messages.h): the program shows them as dialogs, tests capture them. Every
// event handler catches errors and shows them (title "Error"), as the application's
// default error box would; nothing escapes into the toolkit.
//
// Single-threaded: everything runs on the thread that made the GL view.
#pragma once

#include <GL/gl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/PreviewState.h"
#include "gl/Shader.h"
#include "render/RenderInputs.h"

class Fl_Box;
class Fl_Button;
class Fl_Check_Button;
class Fl_Choice;
class Fl_Double_Window;
class Fl_Group;
class Fl_Hold_Browser;
class Fl_Input;
class Fl_Progress;
class Fl_Round_Button;
class Fl_Spinner;
class Fl_Tabs;
class Fl_Widget;

namespace quarvel {

class TOBJFile;
class TGLModel;
class TGLPanel;

// Application title, and the window caption with a leading space.
extern const char* const ApplicationTitle; // "Quarvel v1.0.2.0"

// A repeating toolkit timer that can be switched on and off (the preview's 200 ms tick).
class TTimer {
public:
  TTimer(double intervalSeconds, std::function<void()> onTimer);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;
  bool Enabled() const { return Enabled_; }
  void SetEnabled(bool enabled);
  double Interval() const { return Interval_; }

private:
  static void Tick(void* data);
  double Interval_;
  std::function<void()> OnTimer_;
  bool Enabled_ = false;
};

class TFrmMain {
public:
  // Builds every control (nothing is scanned or loaded yet). progDir: the program folder
  // without a trailing separator.
  explicit TFrmMain(std::string progDir);
  ~TFrmMain();
  TFrmMain(const TFrmMain&) = delete;
  TFrmMain& operator=(const TFrmMain&) = delete;

  // Start-up, in this order: the two lists, the GL view (made when the program has none
  // yet) with the presenter, the three shader programs, "background.png", the background
  // list, the model named by modelArg (relative to ProgDir, without ".obj") when that
  // file exists, PreviewAngle 59, the light spin edits, the timer. An error in a step is
  // shown and ends start-up there, except for the background and the model: a missing
  // or unreadable "background.png" leaves the clear colour as background, a model that
  // does not load shows its error, and start-up goes on.
  void FormCreate(const std::string& modelArg);

  // --- Events (each catches and shows its errors) ---
  void Button12Click();            // Load
  void Button13Click();            // Render
  void BackgroundComboBoxChange(); // another background picture
  void RenderTimerTimer();         // one preview frame
  void Button2Click();             // "-1"
  void Button1Click();             // "+1"
  void Button7Click();             // "+45"
  void Button11Click();            // "<<"
  void Button10Click();            // ">>"
  void ScaleButtonClick();         // "Scale by ZMax"
  void CheckBox1Click();           // "Zbuffer"
  void CheckBox2Click();           // "True ZBuffer" (hidden)
  void WireFrameCheckClick();      // "WireFrame"
  void ForceAmbientClick();        // "Force Half Ambient"
  void SpinEdit1Change();          // light X (hidden)
  void SpinEdit2Change();          // light Y (hidden)
  void SpinEdit3Change();          // light Z (hidden)

  // --- Preview model (these throw; the events above catch) ---
  void OpenPreviewModel(const std::string& name);
  void LoadPreviewModel(const std::string& name);
  void CentrePreviewModel();
  void MeasurePreviewModel();

  // The job's progress: status bar and label, then the window repainted at once.
  void RenderProgress(int32_t percent, const std::string& text);
  void FillBackgroundList();

  // Shows the window centred on the screen.
  void Show();
  // Draws the window's client area (927 x 583) offscreen and writes it as a 24-bit PNG.
  // Needs a display connection (the toolkit draws through it).
  void SaveSnapshot(const std::string& fileName);

  // The text of a list entry or the background box; "" when nothing is selected.
  std::string SelectedModel() const;
  std::string SelectedSettings() const;
  std::string SelectedBackground() const;
  std::vector<std::string> OBJListItems() const;
  std::vector<std::string> SettingsListItems() const;
  std::vector<std::string> BackgroundItems() const;

  std::string ProgDir;
  TPreviewState Preview;
  std::unique_ptr<TOBJFile> PreviewModel;
  std::unique_ptr<TGLModel> PreviewGLModel; // draws PreviewModel
  // The window's shader programs and what it draws with: the hidden light spin edits
  // and "Force Half Ambient" set these, for the preview and for the jobs it renders.
  TShaderSet Shaders;
  TRenderInputs Inputs;
  GLuint BackgroundTexture = 0;
  // The ZMax the last frame gave the depth shader (for checks; the frame computes it).
  int32_t LastShaderZ = 0;
  // Frames drawn since start-up.
  int64_t FramesDrawn = 0;
  // Every value the load progress bar was set to during the last load (for checks).
  std::vector<int32_t> LoadProgressShown;
  // Warnings of the last render job, also shown in StatusLabel after it.
  std::vector<std::string> RenderWarnings;

  // --- Controls ---
  Fl_Double_Window* Form = nullptr;
  Fl_Group* Panel = nullptr;
  TGLPanel* OGLPanel = nullptr;
  Fl_Choice* BackgroundComboBox = nullptr;
  Fl_Box* Label1 = nullptr;
  Fl_Button* Button2 = nullptr;
  Fl_Button* Button1 = nullptr;
  Fl_Button* Button7 = nullptr;
  Fl_Check_Button* ForceAmbient = nullptr;
  Fl_Check_Button* CheckBox1 = nullptr;
  Fl_Check_Button* CheckBox2 = nullptr;
  Fl_Check_Button* WireFrameCheck = nullptr;
  Fl_Input* MaxZ = nullptr;
  Fl_Button* ScaleButton = nullptr;
  Fl_Box* Label4 = nullptr;
  Fl_Box* Label5 = nullptr;
  Fl_Button* Button11 = nullptr;
  Fl_Button* Button10 = nullptr;
  Fl_Tabs* PageControl = nullptr;
  Fl_Group* TabSheet1 = nullptr;
  Fl_Hold_Browser* OBJList = nullptr;
  Fl_Button* Button12 = nullptr;
  Fl_Progress* ProgressBar = nullptr;
  Fl_Spinner* SpinEdit1 = nullptr;
  Fl_Spinner* SpinEdit2 = nullptr;
  Fl_Spinner* SpinEdit3 = nullptr;
  Fl_Group* TabSheet2 = nullptr;
  Fl_Box* StatusLabel = nullptr;
  Fl_Progress* StatusProgressBar = nullptr;
  Fl_Hold_Browser* SettingsList = nullptr;
  Fl_Button* Button13 = nullptr;
  Fl_Round_Button* KXZRadio = nullptr;
  Fl_Round_Button* RadioButton2 = nullptr;
  Fl_Round_Button* PNGRadio = nullptr; // PNG sheets with their JSON atlas, no maps
  TTimer RenderTimer;

private:
  struct TBinding {
    TFrmMain* Form;
    void (TFrmMain::*Handler)();
  };
  void Build();
  // Makes `handler` the widget's event.
  void Connect(Fl_Widget* widget, void (TFrmMain::*handler)());
  void SetLabel(Fl_Widget* widget, const std::string& text);
  void Guard(const std::function<void()>& action);
  void ShowPicture();
  void DrawFrame();

  std::vector<std::unique_ptr<TBinding>> Bindings_;
  std::vector<std::string> BackgroundNames_;
};

// Shows an error the way the application's error box does (title "Error").
void ShowErrorBox(const std::string& message);

} // namespace quarvel
