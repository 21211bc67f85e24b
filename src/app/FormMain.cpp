#include "app/FormMain.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Spinner.H>
#include <FL/Fl_Tabs.H>

#include <climits>
#include <cmath>
#include <exception>

#include "app/Display.h"
#include "app/GLPanel.h"
#include "app/PreviewFrame.h"
#include "common/Error.h"
#include "common/FileLists.h"
#include "common/FileLookup.h"
#include "common/Messages.h"
#include "gl/GLView.h"
#include "gl/Shader.h"
#include "gl/Texture.h"
#include "image/Image.h"
#include "jobs/JobInputs.h"
#include "jobs/JobRunner.h"
#include "models/ModelLoader.h"
#include "models/OBJFile.h"
#include "models/SceneFile.h"
#include "models/SceneFormats.h"
#include "render/GLModel.h"

namespace quarvel {

const char* const ApplicationTitle = "Quarvel v1.0.2.0";

namespace {

constexpr int FormWidth = 927;
constexpr int FormHeight = 583;
constexpr int ViewSize = 400;
// Client origin of the notebook's pages: below the row of tabs, inside its border.
constexpr int SheetX = 400 + 4;
constexpr int SheetY = 24;

// Menu labels treat "/" as a submenu path, "&" as a shortcut mark and "\" as escape.
std::string EscapeMenuLabel(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '/' || c == '\\')
      out += '\\';
    else if (c == '&')
      out += '&';
    out += c;
  }
  return out;
}

template <class Widget> Widget* Place(Widget* widget) {
  widget->labelsize(FL_NORMAL_SIZE);
  return widget;
}

} // namespace

// ---------------------------------------------------------------------------------
// TTimer

TTimer::TTimer(double intervalSeconds, std::function<void()> onTimer)
    : Interval_(intervalSeconds), OnTimer_(std::move(onTimer)) {}

TTimer::~TTimer() {
  SetEnabled(false);
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == Enabled_)
    return;
  Enabled_ = enabled;
  if (enabled)
    Fl::add_timeout(Interval_, &TTimer::Tick, this);
  else
    Fl::remove_timeout(&TTimer::Tick, this);
}

void TTimer::Tick(void* data) {
  auto* timer = static_cast<TTimer*>(data);
  // Re-armed before the handler runs, so a handler that disables the timer wins.
  Fl::repeat_timeout(timer->Interval_, &TTimer::Tick, timer);
  if (timer->OnTimer_)
    timer->OnTimer_();
}

// ---------------------------------------------------------------------------------
// Construction

void ShowErrorBox(const std::string& message) {
  ShowMessage("Error", message);
}

TFrmMain::TFrmMain(std::string progDir)
    : ProgDir(std::move(progDir)), RenderTimer(0.2, [this] { RenderTimerTimer(); }) {
  while (ProgDir.size() > 1 && ProgDir.back() == '/')
    ProgDir.pop_back();
  Build();
}

TFrmMain::~TFrmMain() {
  RenderTimer.SetEnabled(false);
  if (GLView)
    GLView->SetPresenter(nullptr);
  if (Form != nullptr) {
    Form->hide();
    delete Form;
  }
  // Display lists and textures need the context, which lives as long as the process.
  PreviewGLModel.reset();
  PreviewModel.reset();
  if (BackgroundTexture != 0 && GLView) {
    glDeleteTextures(1, &BackgroundTexture);
    BackgroundTexture = 0;
  }
}

void TFrmMain::Build() {
  // An 8-point sans-serif: FLTK's Helvetica at 11 pixels comes closest.
  FL_NORMAL_SIZE = 11;
  Form = new Fl_Double_Window(FormWidth, FormHeight);
  Form->copy_label((std::string(" ") + ApplicationTitle).c_str());
  Form->size_range(FormWidth, FormHeight, FormWidth, FormHeight); // not resizable
  Form->labelsize(FL_NORMAL_SIZE);

  Panel = new Fl_Group(0, 0, 400, 583);
  Panel->box(FL_FLAT_BOX);
  OGLPanel = new TGLPanel(0, 0, 400, 400);
  BackgroundComboBox = Place(new Fl_Choice(0, 400, 401, 21));
  BackgroundComboBox->textsize(FL_NORMAL_SIZE);
  BackgroundComboBox->when(FL_WHEN_CHANGED);
  Connect(BackgroundComboBox, &TFrmMain::BackgroundComboBoxChange);
  Label1 = Place(new Fl_Box(8, 424, 250, 13));
  Button2 = Place(new Fl_Button(8, 440, 75, 25, "-1"));
  Connect(Button2, &TFrmMain::Button2Click);
  Button1 = Place(new Fl_Button(88, 440, 75, 25, "+1"));
  Connect(Button1, &TFrmMain::Button1Click);
  Button7 = Place(new Fl_Button(168, 440, 75, 25, "+45"));
  Connect(Button7, &TFrmMain::Button7Click);
  ForceAmbient = Place(new Fl_Check_Button(264, 448, 129, 17, "Force Half Ambient"));
  Connect(ForceAmbient, &TFrmMain::ForceAmbientClick);
  CheckBox1 = Place(new Fl_Check_Button(8, 472, 81, 17, "Zbuffer"));
  Connect(CheckBox1, &TFrmMain::CheckBox1Click);
  CheckBox2 = Place(new Fl_Check_Button(112, 472, 97, 17, "True ZBuffer"));
  CheckBox2->value(1);
  CheckBox2->hide();
  Connect(CheckBox2, &TFrmMain::CheckBox2Click);
  WireFrameCheck = Place(new Fl_Check_Button(288, 480, 97, 17, "WireFrame"));
  Connect(WireFrameCheck, &TFrmMain::WireFrameCheckClick);
  MaxZ = Place(new Fl_Input(8, 496, 121, 21));
  MaxZ->box(FL_BORDER_BOX);
  MaxZ->textsize(FL_NORMAL_SIZE);
  MaxZ->value("56");
  ScaleButton = Place(new Fl_Button(136, 496, 137, 21, "Scale by ZMax"));
  Connect(ScaleButton, &TFrmMain::ScaleButtonClick);
  Label4 = Place(new Fl_Box(8, 528, 250, 13));
  Label5 = Place(new Fl_Box(96, 528, 250, 13));
  Label5->hide();
  Button11 = Place(new Fl_Button(8, 544, 75, 25, "<<"));
  Connect(Button11, &TFrmMain::Button11Click);
  Button10 = Place(new Fl_Button(88, 544, 75, 25, ">>"));
  Connect(Button10, &TFrmMain::Button10Click);
  for (Fl_Box* label : {Label1, Label4, Label5})
    label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  Panel->end();

  PageControl = Place(new Fl_Tabs(400, 0, 527, 583));
  TabSheet1 = Place(new Fl_Group(SheetX, SheetY, 519, 555, "Preview Models"));
  OBJList = Place(new Fl_Hold_Browser(SheetX + 8, SheetY + 8, 497, 505));
  OBJList->box(FL_BORDER_BOX);
  OBJList->textsize(FL_NORMAL_SIZE);
  OBJList->format_char(0); // names are shown as they are, "@" included
  Button12 = Place(new Fl_Button(SheetX + 8, SheetY + 520, 75, 25, "Load"));
  Connect(Button12, &TFrmMain::Button12Click);
  ProgressBar = Place(new Fl_Progress(SheetX + 88, SheetY + 524, 417, 17));
  ProgressBar->minimum(0);
  ProgressBar->maximum(100);
  ProgressBar->selection_color(FL_DARK_BLUE);
  // The light spin edits exist for the events that set the light; users never see them.
  Fl_Spinner** spins[3] = {&SpinEdit1, &SpinEdit2, &SpinEdit3};
  void (TFrmMain::*spinEvents[3])() = {&TFrmMain::SpinEdit1Change, &TFrmMain::SpinEdit2Change,
                                       &TFrmMain::SpinEdit3Change};
  for (int i = 0; i < 3; ++i) {
    Fl_Spinner* spin = Place(new Fl_Spinner(SheetX + 312, SheetY + 104 + 24 * i, 121, 22));
    spin->type(FL_INT_INPUT);
    spin->range(INT_MIN, INT_MAX);
    spin->step(1);
    spin->textsize(FL_NORMAL_SIZE);
    spin->hide();
    Connect(spin, spinEvents[i]);
    *spins[i] = spin;
  }
  TabSheet1->end();

  TabSheet2 = Place(new Fl_Group(SheetX, SheetY, 519, 555, "Render Models"));
  StatusLabel = Place(new Fl_Box(SheetX + 8, SheetY + 12, 499, 13, "Status"));
  StatusLabel->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  StatusProgressBar = Place(new Fl_Progress(SheetX + 8, SheetY + 28, 499, 17));
  StatusProgressBar->minimum(0);
  StatusProgressBar->maximum(100);
  StatusProgressBar->selection_color(FL_DARK_BLUE);
  SettingsList = Place(new Fl_Hold_Browser(SheetX + 8, SheetY + 48, 497, 465));
  SettingsList->textsize(FL_NORMAL_SIZE);
  SettingsList->format_char(0);
  // The PNG choice took its room from the Render button, which was wider than its label.
  Button13 = Place(new Fl_Button(SheetX + 8, SheetY + 520, 321, 25, "Render"));
  Connect(Button13, &TFrmMain::Button13Click);
  KXZRadio = Place(new Fl_Round_Button(SheetX + 336, SheetY + 525, 49, 17, "KXZ"));
  KXZRadio->type(FL_RADIO_BUTTON);
  KXZRadio->value(1);
  RadioButton2 = Place(new Fl_Round_Button(SheetX + 392, SheetY + 525, 57, 17, "2P5D"));
  RadioButton2->type(FL_RADIO_BUTTON);
  PNGRadio = Place(new Fl_Round_Button(SheetX + 456, SheetY + 525, 49, 17, "PNG"));
  PNGRadio->type(FL_RADIO_BUTTON);
  TabSheet2->end();
  PageControl->end();
  PageControl->value(TabSheet1);

  Form->end();
  Form->resizable(nullptr);

  SetLabel(Label1, AngleLabel(Preview.PreviewAngle));
  SetLabel(Label4, ScaleLabel(Preview.PreviewScale));
  SetLabel(Label5, SizeLabel(Preview.PreviewMinY, Preview.PreviewMaxY, Preview.PreviewScale));
}

void TFrmMain::Connect(Fl_Widget* widget, void (TFrmMain::*handler)()) {
  Bindings_.push_back(std::make_unique<TBinding>(TBinding{this, handler}));
  widget->callback(
      [](Fl_Widget*, void* data) {
        auto* binding = static_cast<TBinding*>(data);
        (binding->Form->*(binding->Handler))();
      },
      Bindings_.back().get());
}

void TFrmMain::SetLabel(Fl_Widget* widget, const std::string& text) {
  if (widget->label() != nullptr && text == widget->label())
    return;
  widget->copy_label(text.c_str());
  // A label box paints only itself; the panel behind it must clear the old text.
  if (widget->parent() != nullptr)
    widget->parent()->damage(FL_DAMAGE_ALL, widget->x(), widget->y(), widget->w(), widget->h());
  widget->redraw();
}

void TFrmMain::Guard(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  } catch (...) {
    ShowErrorBox("Unknown error");
  }
}

void TFrmMain::Show() {
  Form->position((Fl::w() - FormWidth) / 2, (Fl::h() - FormHeight) / 2);
  Form->show();
}

// ---------------------------------------------------------------------------------
// Start-up

void TFrmMain::FormCreate(const std::string& modelArg) {
  // Number texts: every conversion of the program reads and writes "." whatever the
  // locale (common/Convert.h, FloatText.h), so there is no separator to set here.
  PageControl->value(TabSheet1);
  Fl::focus(nullptr);
  try {
    std::vector<std::string> models;
    ScanPreviewModels(ProgDir, ProgDir + "/", models, IsSceneFileName);
    OBJList->clear();
    for (const std::string& name : models)
      OBJList->add(name.c_str());
    std::vector<std::string> settings;
    ScanSettingsFiles(ProgDir, ProgDir + "/", settings);
    SettingsList->clear();
    for (const std::string& name : settings)
      SettingsList->add(name.c_str());

    if (!GLView)
      CreateGLView(ViewSize, ViewSize);
    GLView->SetPresenter([this](const TOGL&) { ShowPicture(); });
    // The program folder's shader files, else the installed ones, else the built-in copies.
    Shaders = LoadShaderSet(ShaderFolder(ProgDir));
    Inputs.Shaders = &Shaders;

    // Without a background picture the preview shows the clear colour; start-up goes on
    // either way (a missing picture used to end it, leaving no timer and no model).
    const std::string background = JoinPath(ProgDir, "background.png");
    if (FileExists(background)) {
      try {
        BackgroundTexture = LoadPNGTexture(background);
      } catch (const std::exception& e) {
        BackgroundTexture = 0;
        ShowErrorBox(e.what());
      }
    }
    FillBackgroundList();

    // A model that fails to load is reported like a failed Load command; the preview
    // still starts, rather than staying frozen for want of its timer.
    if (FileExists(JoinPath(ProgDir, modelArg + ".obj")) ||
        (IsSceneFileName(modelArg) && FileExists(JoinPath(ProgDir, modelArg))))
      Guard([&] { OpenPreviewModel(modelArg); });
    Preview.PreviewAngle = 59;
    SpinEdit1->value(std::trunc(Inputs.LightPosition[0]));
    SpinEdit2->value(std::trunc(Inputs.LightPosition[1]));
    SpinEdit3->value(std::trunc(Inputs.LightPosition[2]));
    // The labels follow at once rather than at the first tick.
    SetLabel(Label1, AngleLabel(Preview.PreviewAngle));
    SetLabel(Label4, ScaleLabel(Preview.PreviewScale));
    RenderTimer.SetEnabled(true);
  } catch (const std::exception& e) {
    // As the application's error box would: the window opens, start-up ends here.
    ShowErrorBox(e.what());
  }
}

void TFrmMain::FillBackgroundList() {
  BackgroundComboBox->clear();
  BackgroundNames_ = ListBackgrounds(ProgDir);
  for (const std::string& name : BackgroundNames_)
    BackgroundComboBox->add(EscapeMenuLabel(name).c_str(), 0, nullptr, nullptr, 0);
  // Selecting by value() raises no change event: the picture stays "background.png".
  if (BackgroundComboBox->size() > 1)
    BackgroundComboBox->value(0);
}

// ---------------------------------------------------------------------------------
// Pictures

void TFrmMain::ShowPicture() {
  if (!GLView)
    return;
  OGLPanel->SetPicture(GLView->Width(), GLView->Height(), GLView->ReadPixels(GL_RGB));
}

void TFrmMain::DrawFrame() {
  LastShaderZ = ShaderZFromText(MaxZ->value());
  DrawPreviewFrame(*GLView, Preview, LastShaderZ, BackgroundTexture, PreviewGLModel.get(), Inputs);
  ++FramesDrawn;
}

void TFrmMain::RenderTimerTimer() {
  Guard([&] {
    if (Fl::focus() == PageControl)
      Fl::focus(nullptr);
    if (!RenderTimer.Enabled())
      return;
    if (GLView)
      DrawFrame();
    SetLabel(Label1, AngleLabel(Preview.PreviewAngle));
    SetLabel(Label4, ScaleLabel(Preview.PreviewScale));
    SetLabel(Label5, SizeLabel(Preview.PreviewMinY, Preview.PreviewMaxY, Preview.PreviewScale));
  });
}

void TFrmMain::SaveSnapshot(const std::string& fileName) {
  // The toolkit draws only windows that are on the screen.
  if (!Form->shown())
    Show();
  Fl::check();
  SaveWidgetPicture(Form, FormWidth, FormHeight, fileName);
}

// ---------------------------------------------------------------------------------
// Turning, scaling, check boxes

void TFrmMain::Button2Click() {
  Preview.PreviewAngle -= 1;
}

void TFrmMain::Button1Click() {
  Preview.PreviewAngle += 1;
}

void TFrmMain::Button7Click() {
  Preview.PreviewAngle += 45;
}

void TFrmMain::Button11Click() {
  Preview.PreviewScale = ScaleDownStep(Preview.PreviewScale);
}

void TFrmMain::Button10Click() {
  Preview.PreviewScale = ScaleUpStep(Preview.PreviewScale);
}

void TFrmMain::ScaleButtonClick() {
  Guard([&] {
    // A text that is not a whole number fails here and leaves the scale alone.
    const int32_t steps = ScaleStepsFromText(MaxZ->value());
    Preview.PreviewScale = ScaleForSteps(Preview.PreviewMinY, Preview.PreviewMaxY, steps);
  });
}

void TFrmMain::CheckBox1Click() {
  Preview.ShowZBuffer = CheckBox1->value() != 0;
}

void TFrmMain::CheckBox2Click() {
  Preview.TrueZBuffer = CheckBox2->value() != 0;
}

void TFrmMain::WireFrameCheckClick() {
  Preview.ShowWireFrame = WireFrameCheck->value() != 0;
}

void TFrmMain::ForceAmbientClick() {
  // The ambient colour is baked into display lists: recompile them at the next draw.
  if (PreviewGLModel)
    PreviewGLModel->RebuildLists = true;
  Inputs.HalfAmbient = ForceAmbient->value() != 0;
}

void TFrmMain::SpinEdit1Change() {
  Inputs.LightPosition[0] = static_cast<float>(SpinEdit1->value());
}

void TFrmMain::SpinEdit2Change() {
  Inputs.LightPosition[1] = static_cast<float>(SpinEdit2->value());
}

void TFrmMain::SpinEdit3Change() {
  Inputs.LightPosition[2] = static_cast<float>(SpinEdit3->value());
}

} // namespace quarvel
