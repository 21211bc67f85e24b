// The main window's preview model and its commands: opening, loading, centring and
// measuring the model shown, the lists' selections, the background, and rendering jobs.
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

namespace {

std::string ItemsText(const Fl_Hold_Browser* list, int line) {
  const char* text = list->text(line);
  return text != nullptr ? text : "";
}

} // namespace

// ---------------------------------------------------------------------------------
// Preview model

void TFrmMain::OpenPreviewModel(const std::string& name) {
  LoadPreviewModel(name);
  // The fit `info model` prints too: the opening MaxZ, and the scale worked out again
  // from that whole number, so the model spans exactly MaxZ depth steps.
  const TPreviewFit fit = PreviewFit(Preview.PreviewMinY, Preview.PreviewMaxY);
  MaxZ->value(std::to_string(fit.MaxZ).c_str());
  Preview.PreviewScale = fit.Scale;
}

void TFrmMain::LoadPreviewModel(const std::string& name) {
  LoadProgressShown.clear();
  int32_t lastShown = 0;
  ProgressBar->value(0);
  ProgressBar->show();
  LoadProgressShown.push_back(0);
  TModelLoadCallbacks callbacks;
  callbacks.OnLine = [&](int32_t lineIndex, int32_t lineCount) {
    const int32_t percent = LinePercent(lineIndex, lineCount);
    if (percent == lastShown)
      return;
    lastShown = percent;
    LoadProgressShown.push_back(percent);
    ProgressBar->value(static_cast<float>(percent));
    ProgressBar->redraw();
    Fl::flush();
  };
  callbacks.OnMaterials = [&] { ProgressBar->hide(); };

  // The new model replaces the shown one only once it has loaded: a file that fails
  // keeps the model, its height and its scale on screen, instead of leaving a model
  // read half-way to be drawn.
  std::unique_ptr<TOBJFile> model;
  std::unique_ptr<TGLModel> glModel;
  // What a render of this model would warn about (a material library or texture missing
  // or unusable, a scene's leftovers), said once for the whole load: one box, not one per
  // warning, and none in the middle of the loading.
  std::vector<std::string> warnings;
  callbacks.OnWarning = [&warnings](const std::string& text) { warnings.push_back(text); };
  try {
    if (IsSceneFileName(name)) {
      // A scene file is previewed in its rest pose.
      model = PosedSceneModel(*ReadSceneFile(ProgDir, name, warnings), -1, 0.0, "");
    } else {
      model = LoadOBJModel(ProgDir, name, "", callbacks);
    }
    glModel = std::make_unique<TGLModel>(*model, &warnings);
  } catch (...) {
    ProgressBar->hide();
    throw;
  }
  ProgressBar->hide();
  PreviewGLModel.reset(); // it draws the model being replaced
  PreviewModel = std::move(model);
  PreviewGLModel = std::move(glModel);
  CentrePreviewModel();
  MeasurePreviewModel();
  Preview.PreviewModelName = name;
  if (!warnings.empty()) {
    std::string text;
    for (const std::string& line : ShownWarnings(warnings))
      text += (text.empty() ? "" : "\n") + line;
    ShowMessage(warnings.size() == 1 ? "Warning" : "Warnings", text);
  }
}

void TFrmMain::CentrePreviewModel() {
  if (PreviewModel)
    CentreModel(*PreviewModel);
}

void TFrmMain::MeasurePreviewModel() {
  if (PreviewModel)
    MeasureHeight(*PreviewModel, Preview.PreviewMinY, Preview.PreviewMaxY);
}

// ---------------------------------------------------------------------------------
// Commands

std::string TFrmMain::SelectedModel() const {
  return OBJList->value() > 0 ? ItemsText(OBJList, OBJList->value()) : "";
}

std::string TFrmMain::SelectedSettings() const {
  return SettingsList->value() > 0 ? ItemsText(SettingsList, SettingsList->value()) : "";
}

std::string TFrmMain::SelectedBackground() const {
  const int index = BackgroundComboBox->value();
  const std::vector<std::string> items = BackgroundItems();
  return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<size_t>(index)]
                                                              : "";
}

std::vector<std::string> TFrmMain::OBJListItems() const {
  std::vector<std::string> items;
  for (int line = 1; line <= OBJList->size(); ++line)
    items.push_back(ItemsText(OBJList, line));
  return items;
}

std::vector<std::string> TFrmMain::SettingsListItems() const {
  std::vector<std::string> items;
  for (int line = 1; line <= SettingsList->size(); ++line)
    items.push_back(ItemsText(SettingsList, line));
  return items;
}

std::vector<std::string> TFrmMain::BackgroundItems() const {
  // The menu's labels are escaped; the names are kept as they are beside them.
  return BackgroundNames_;
}

void TFrmMain::Button12Click() {
  Guard([&] {
    if (OBJList->value() <= 0 || OBJList->value() > OBJList->size()) {
      ShowMessage(ApplicationTitle, "Nothing Selected...");
      return;
    }
    OpenPreviewModel(SelectedModel());
  });
}

void TFrmMain::BackgroundComboBoxChange() {
  Guard([&] {
    const std::string name = SelectedBackground();
    if (name.empty())
      return;
    // The new picture is loaded before the old one is let go: a file that has gone
    // since the list was made shows its error and the current picture stays.
    const GLuint texture = LoadPNGTexture(JoinPath(ProgDir, name + ".png"));
    if (BackgroundTexture != 0)
      glDeleteTextures(1, &BackgroundTexture);
    BackgroundTexture = texture;
  });
}

void TFrmMain::RenderProgress(int32_t percent, const std::string& text) {
  if (static_cast<float>(percent) != StatusProgressBar->value())
    StatusProgressBar->value(static_cast<float>(percent));
  SetLabel(StatusLabel, text);
  // The job runs inside the click: repaint now, without handling any input.
  Form->redraw();
  Fl::flush();
}

void TFrmMain::Button13Click() {
  if (SettingsList->value() <= 0) {
    ShowMessage(ApplicationTitle, "Nothing Selected....");
    return;
  }
  const std::string settings = SelectedSettings();
  RenderTimer.SetEnabled(false);
  RenderWarnings.clear();
  try {
    if (!GLView)
      throw Error("There is no OpenGL view to render with (see the error at start-up)");
    // The same job path as the command line, with the window's progress and warnings
    // and what the window draws with. Output goes beside the settings' own folder tree,
    // in the program folder, like every other file the window works with.
    TJobOptions options;
    options.RootDir = ProgDir;
    options.OutputDir = ProgDir + "/";
    options.Format = KXZRadio->value() != 0   ? TOutputFormat::KXZ
                     : PNGRadio->value() != 0 ? TOutputFormat::PNG
                                              : TOutputFormat::Raw2P5D;
    RunJob(
        options, settings, Inputs,
        [this](int32_t percent, const std::string& text) { RenderProgress(percent, text); },
        [this](const std::string& warning) { RenderWarnings.push_back(warning); });
  } catch (const std::exception& e) {
    // The job is gone (its destructor ran while unwinding); the preview goes on instead
    // of staying frozen until the program is restarted.
    SetLabel(StatusLabel, e.what());
    RenderTimer.SetEnabled(true);
    ShowErrorBox(e.what());
    return;
  } catch (...) {
    SetLabel(StatusLabel, "Unknown error");
    RenderTimer.SetEnabled(true);
    ShowErrorBox("Unknown error");
    return;
  }
  if (!RenderWarnings.empty()) {
    const std::string count = std::to_string(RenderWarnings.size());
    SetLabel(StatusLabel, std::string(StatusLabel->label()) + " - " + count +
                              (RenderWarnings.size() == 1 ? " warning: " : " warnings, first: ") +
                              RenderWarnings.front());
    std::string all;
    for (const std::string& warning : RenderWarnings)
      all += warning + "\n";
    StatusLabel->copy_tooltip(all.c_str());
  } else {
    StatusLabel->copy_tooltip(nullptr);
  }
  RenderTimer.SetEnabled(true);
}

} // namespace quarvel
