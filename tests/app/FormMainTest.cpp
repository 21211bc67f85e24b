// The window driven through its widgets' callbacks: layout, start-up, lists, preview
// buttons and check boxes, Load and Render. GL runs headless, but the window's start-up
// asks the display for its size, so every test here needs one (run under xvfb-run); the
// process opens it once, with retries when a busy server refuses a connection for a
// moment, and without a display the tests are skipped with the reason.
#include <gtest/gtest.h>

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

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Display.h"
#include "app/FormMain.h"
#include "app/GLPanel.h"
#include "common/FileLookup.h"
#include "common/Messages.h"
#include "gl/GLView.h"
#include "gl/Shader.h"
#include "image/Image.h"
#include "models/Geometry.h"
#include "models/ModelLoader.h"
#include "models/OBJFile.h"
#include "render/GLModel.h"

namespace quarvel {
namespace {
namespace fs = std::filesystem;

// `command` as std::system must be given it: cmd.exe takes off the first and the last
// quote of a command that starts with one, so there the whole is quoted once more.
// Windows has no display named in the environment to take away.
#ifdef _WIN32
std::string ShellCommand(const std::string& command) {
  return "\"" + command + "\"";
}
const char* const WithoutDisplay = "";
#else
std::string ShellCommand(const std::string& command) {
  return command;
}
const char* const WithoutDisplay = "env -u DISPLAY ";
#endif

struct TMessage {
  std::string Title;
  std::string Text;
};

// A 400 x 400 picture of one colour.
void WritePlainPNG(const fs::path& file, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> pixels(400 * 400 * 3);
  for (size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = r;
    pixels[i + 1] = g;
    pixels[i + 2] = b;
  }
  WritePNG(file.string(), 400, 400, 3, pixels.data());
}

// A box model from y0 to y1 (a quad per side, red material when a library is given).
std::string BoxOBJ(float y0, float y1) {
  std::string s;
  const float ys[2] = {y0, y1};
  for (float y : ys)
    for (int k = 0; k < 4; ++k)
      s += "v " + std::to_string(k == 1 || k == 2 ? 1 : -1) + " " + std::to_string(y) + " " +
           std::to_string(k >= 2 ? 1 : -1) + "\n";
  s += "f 1 2 3 4\nf 5 8 7 6\nf 1 5 6 2\nf 2 6 7 3\nf 3 7 8 4\nf 4 8 5 1\n";
  return s;
}

class FormMainTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string why;
    if (!OpenDisplay(why))
      GTEST_SKIP() << why;
    // The process number keeps two suites on one machine (several checkouts, or a
    // rerun while one still runs) out of each other's folders.
    Root = fs::temp_directory_path() /
           ("quarvel_window_" + std::to_string(::getpid()) + "_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(Root);
    fs::create_directories(Root);
    Messages.clear();
    SetMessageSink([this](const std::string& title, const std::string& text) {
      Messages.push_back({title, text});
    });
  }
  void TearDown() override {
    Form.reset();
    SetMessageSink({});
    fs::remove_all(Root);
  }
  void Write(const std::string& rel, const std::string& text) {
    fs::create_directories((Root / rel).parent_path());
    std::ofstream(Root / rel, std::ios::binary) << text;
  }
  TFrmMain& Start(const std::string& modelArg = "") {
    Form = std::make_unique<TFrmMain>(Root.string());
    Form->FormCreate(modelArg);
    return *Form;
  }
  // The view's pixel (x, y from the top left) as the window shows it.
  std::vector<int> ViewPixel(int x, int y) const {
    const std::vector<uint8_t>& p = Form->OGLPanel->Picture();
    const size_t at = (static_cast<size_t>(y) * 400 + static_cast<size_t>(x)) * 3;
    return {p.at(at), p.at(at + 1), p.at(at + 2)};
  }
  // Runs quarvel-cli with `arguments` (quoted for the shell) and expects it to succeed.
  static void RunCLI(const std::string& arguments) {
    const std::string command = ShellCommand(std::string("\"") + QUARVEL_CLI + "\" " + arguments);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  void Select(Fl_Hold_Browser* list, const std::string& entry) {
    for (int line = 1; line <= list->size(); ++line)
      if (entry == list->text(line)) {
        list->select(line);
        return;
      }
    FAIL() << entry << " is not listed";
  }

  fs::path Root;
  std::vector<TMessage> Messages;
  std::unique_ptr<TFrmMain> Form;
};

struct TPlace {
  const Fl_Widget* Widget;
  int X, Y, W, H;
  const char* Label;
};

TEST_F(FormMainTest, ControlsHaveTheirPlacesCaptionsAndDefaults) {
  TFrmMain form(Root.string());
  EXPECT_EQ(form.Form->w(), 927);
  EXPECT_EQ(form.Form->h(), 583);
  EXPECT_STREQ(form.Form->label(), " Quarvel v1.0.2.0");
  EXPECT_EQ(form.Form->resizable(), nullptr);

  // Pages start 4 pixels in and 24 down (below the tabs) in the notebook at x 400.
  const int sx = 404, sy = 24;
  const std::vector<TPlace> places = {
      {form.Panel, 0, 0, 400, 583, nullptr},
      {form.OGLPanel, 0, 0, 400, 400, nullptr},
      {form.BackgroundComboBox, 0, 400, 401, 21, nullptr},
      {form.Button2, 8, 440, 75, 25, "-1"},
      {form.Button1, 88, 440, 75, 25, "+1"},
      {form.Button7, 168, 440, 75, 25, "+45"},
      {form.ForceAmbient, 264, 448, 129, 17, "Force Half Ambient"},
      {form.CheckBox1, 8, 472, 81, 17, "Zbuffer"},
      {form.CheckBox2, 112, 472, 97, 17, "True ZBuffer"},
      {form.WireFrameCheck, 288, 480, 97, 17, "WireFrame"},
      {form.MaxZ, 8, 496, 121, 21, nullptr},
      {form.ScaleButton, 136, 496, 137, 21, "Scale by ZMax"},
      {form.Button11, 8, 544, 75, 25, "<<"},
      {form.Button10, 88, 544, 75, 25, ">>"},
      {form.PageControl, 400, 0, 527, 583, nullptr},
      {form.OBJList, sx + 8, sy + 8, 497, 505, nullptr},
      {form.Button12, sx + 8, sy + 520, 75, 25, "Load"},
      {form.ProgressBar, sx + 88, sy + 524, 417, 17, nullptr},
      {form.SpinEdit1, sx + 312, sy + 104, 121, 22, nullptr},
      {form.SpinEdit2, sx + 312, sy + 128, 121, 22, nullptr},
      {form.SpinEdit3, sx + 312, sy + 152, 121, 22, nullptr},
      {form.StatusProgressBar, sx + 8, sy + 28, 499, 17, nullptr},
      {form.SettingsList, sx + 8, sy + 48, 497, 465, nullptr},
      {form.Button13, sx + 8, sy + 520, 321, 25, "Render"},
      {form.KXZRadio, sx + 336, sy + 525, 49, 17, "KXZ"},
      {form.RadioButton2, sx + 392, sy + 525, 57, 17, "2P5D"},
      {form.PNGRadio, sx + 456, sy + 525, 49, 17, "PNG"},
  };
  for (const TPlace& p : places) {
    SCOPED_TRACE(p.Label != nullptr ? p.Label : "");
    EXPECT_EQ(p.Widget->x(), p.X);
    EXPECT_EQ(p.Widget->y(), p.Y);
    EXPECT_EQ(p.Widget->w(), p.W);
    EXPECT_EQ(p.Widget->h(), p.H);
    if (p.Label != nullptr) {
      EXPECT_STREQ(p.Widget->label(), p.Label);
    }
  }
  EXPECT_EQ(form.Label1->x(), 8);
  EXPECT_EQ(form.Label1->y(), 424);
  EXPECT_EQ(form.Label4->y(), 528);
  EXPECT_EQ(form.Label5->x(), 96);
  EXPECT_EQ(form.StatusLabel->x(), sx + 8);
  EXPECT_EQ(form.StatusLabel->y(), sy + 12);
  EXPECT_STREQ(form.StatusLabel->label(), "Status");

  // Parents, pages and the hidden controls.
  EXPECT_EQ(form.OGLPanel->parent(), form.Panel);
  EXPECT_EQ(form.Button10->parent(), form.Panel);
  EXPECT_EQ(form.OBJList->parent(), form.TabSheet1);
  EXPECT_EQ(form.SpinEdit3->parent(), form.TabSheet1);
  EXPECT_EQ(form.KXZRadio->parent(), form.TabSheet2);
  EXPECT_STREQ(form.TabSheet1->label(), "Preview Models");
  EXPECT_STREQ(form.TabSheet2->label(), "Render Models");
  EXPECT_EQ(form.PageControl->value(), form.TabSheet1);
  for (const Fl_Widget* hidden : std::vector<const Fl_Widget*>{
           form.CheckBox2, form.Label5, form.SpinEdit1, form.SpinEdit2, form.SpinEdit3})
    EXPECT_FALSE(hidden->visible());
  EXPECT_TRUE(form.CheckBox1->visible());

  // Defaults.
  EXPECT_STREQ(form.MaxZ->value(), "56");
  EXPECT_EQ(form.CheckBox2->value(), 1);
  EXPECT_EQ(form.CheckBox1->value(), 0);
  EXPECT_EQ(form.WireFrameCheck->value(), 0);
  EXPECT_EQ(form.ForceAmbient->value(), 0);
  EXPECT_EQ(form.KXZRadio->value(), 1);
  EXPECT_EQ(form.RadioButton2->value(), 0);
  EXPECT_EQ(form.ProgressBar->maximum(), 100.0f);
  EXPECT_EQ(form.StatusProgressBar->maximum(), 100.0f);
  EXPECT_DOUBLE_EQ(form.RenderTimer.Interval(), 0.2);
  EXPECT_FALSE(form.RenderTimer.Enabled());
  EXPECT_EQ(form.Preview.PreviewAngle, 240);

  // The two radio buttons exclude each other.
  form.RadioButton2->setonly();
  EXPECT_EQ(form.KXZRadio->value(), 0);
}

TEST_F(FormMainTest, StartUpFillsTheListsAndDrawsTheBackground) {
  Write("models/a.OBJ", BoxOBJ(0, 1));
  Write("models/sub/b.obj", BoxOBJ(0, 1));
  Write("x.obj/c.obj", BoxOBJ(0, 1));
  Write("abc.settings", "angle 0 0\n");
  Write("abc.settingsx", "angle 0 0\n");
  WritePlainPNG(Root / "background.png", 20, 200, 40);
  WritePlainPNG(Root / "background2.png", 200, 30, 30);

  TFrmMain& form = Start();
  EXPECT_TRUE(Messages.empty()) << Messages.front().Text;
  EXPECT_EQ(form.OBJListItems(), (std::vector<std::string>{"models/a", "models/sub/b", "x.obj/c"}));
  EXPECT_EQ(form.SettingsListItems(), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(form.BackgroundItems(), (std::vector<std::string>{"background", "background2"}));
  EXPECT_EQ(form.BackgroundComboBox->value(), 0);
  EXPECT_TRUE(form.RenderTimer.Enabled());
  EXPECT_EQ(form.Preview.PreviewAngle, 59);
  EXPECT_EQ(form.PreviewModel, nullptr);
  EXPECT_EQ(form.SpinEdit1->value(), -14);
  EXPECT_EQ(form.SpinEdit2->value(), 9);
  EXPECT_EQ(form.SpinEdit3->value(), 13);
  EXPECT_STREQ(form.Label1->label(), "Angle: 59");
  EXPECT_STREQ(form.Label4->label(), "Scale: 1");
  ASSERT_NE(form.Shaders.ZBufferEx, nullptr);
  EXPECT_TRUE(form.Shaders.ZBufferEx->Linked());
  EXPECT_EQ(form.Inputs.Shaders, &form.Shaders);

  form.RenderTimerTimer();
  EXPECT_EQ(form.FramesDrawn, 1);
  EXPECT_STREQ(form.Label1->label(), "Angle: 59");
  EXPECT_STREQ(form.Label4->label(), "Scale: 1");
  EXPECT_STREQ(form.Label5->label(), "Size(Y): 0 0");
  // The shown texture is "background.png", whatever the box shows; the view fills the
  // panel with it.
  EXPECT_EQ(ViewPixel(0, 0), (std::vector<int>{20, 200, 40}));
  EXPECT_EQ(ViewPixel(399, 399), (std::vector<int>{20, 200, 40}));

  // Another entry: its picture from the next frame on.
  form.BackgroundComboBox->value(1);
  form.BackgroundComboBox->do_callback();
  form.RenderTimerTimer();
  EXPECT_EQ(ViewPixel(200, 200), (std::vector<int>{200, 30, 30}));

  // An entry whose file has gone shows the error and keeps the current picture.
  fs::remove(Root / "background.png");
  form.BackgroundComboBox->value(0);
  form.BackgroundComboBox->do_callback();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Title, "Error");
  EXPECT_NE(Messages[0].Text.find("background.png"), std::string::npos) << Messages[0].Text;
  form.RenderTimerTimer();
  EXPECT_EQ(ViewPixel(200, 200), (std::vector<int>{200, 30, 30}));

  // "Zbuffer" checked: no background, and without a model the view is plain magenta.
  form.CheckBox1->value(1);
  form.CheckBox1->do_callback();
  form.RenderTimerTimer();
  for (int y = 0; y < 400; y += 57)
    for (int x = 0; x < 400; x += 57)
      EXPECT_EQ(ViewPixel(x, y), (std::vector<int>{255, 0, 255})) << x << "," << y;
}

TEST_F(FormMainTest, StartUpWithoutBackgroundGoesOnWithTheCommandLineModel) {
  Write("cars/truck.obj", BoxOBJ(2, 12));
  TFrmMain& form = Start("cars\\truck");
  EXPECT_TRUE(Messages.empty()) << Messages.front().Text;
  EXPECT_TRUE(form.BackgroundItems().empty());
  EXPECT_EQ(form.BackgroundTexture, 0u);
  ASSERT_NE(form.PreviewModel, nullptr);
  EXPECT_EQ(form.Preview.PreviewModelName, "cars\\truck");
  EXPECT_EQ(form.Preview.PreviewAngle, 59);
  EXPECT_TRUE(form.RenderTimer.Enabled());

  form.RenderTimerTimer();
  // The clear colour is the background; the model covers the middle.
  EXPECT_EQ(ViewPixel(2, 2), (std::vector<int>{255, 0, 255}));
  EXPECT_NE(ViewPixel(200, 200), (std::vector<int>{255, 0, 255}));

  // A model argument whose file does not exist opens nothing, quietly; one that does
  // not load shows its error and the preview starts all the same.
  Form.reset();
  TFrmMain& again = Start("cars/lorry");
  EXPECT_EQ(again.PreviewModel, nullptr);
  EXPECT_TRUE(Messages.empty());
  EXPECT_TRUE(again.RenderTimer.Enabled());
  Form.reset();
  Write("cars/wreck.obj", "v 1 x 0\n");
  TFrmMain& broken = Start("cars/wreck");
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Text, "cars/wreck.obj:1: 'x' is not a valid floating point value");
  EXPECT_EQ(broken.PreviewModel, nullptr);
  EXPECT_EQ(broken.Preview.PreviewAngle, 59);
  EXPECT_TRUE(broken.RenderTimer.Enabled());
}

TEST_F(FormMainTest, TurningAndScalingButtons) {
  TFrmMain& form = Start();
  for (int i = 0; i < 60; ++i)
    form.Button2->do_callback();
  EXPECT_EQ(form.Preview.PreviewAngle, -1);
  form.RenderTimerTimer();
  EXPECT_EQ(form.Preview.PreviewAngle, -1);
  EXPECT_STREQ(form.Label1->label(), "Angle: -1");

  form.Button7->do_callback();
  for (int i = 0; i < 8; ++i)
    form.Button7->do_callback();
  form.Button1->do_callback();
  EXPECT_EQ(form.Preview.PreviewAngle, 405);
  form.RenderTimerTimer();
  EXPECT_EQ(form.Preview.PreviewAngle, 45);

  form.Preview.PreviewScale = 0.015f;
  form.Button11->do_callback();
  EXPECT_EQ(form.Preview.PreviewScale, 0.01f);
  form.Button11->do_callback();
  EXPECT_EQ(form.Preview.PreviewScale, 0.01f);
  form.RenderTimerTimer();
  EXPECT_STREQ(form.Label4->label(), "Scale: 0.00999999977648258");
  form.Button10->do_callback();
  EXPECT_EQ(form.Preview.PreviewScale, static_cast<float>(0.01f + 0.01L));

  // "Scale by ZMax" before any model: a zero height gives an infinite scale.
  form.ScaleButton->do_callback();
  EXPECT_TRUE(std::isinf(form.Preview.PreviewScale));
  form.RenderTimerTimer();
  EXPECT_STREQ(form.Label4->label(), "Scale: INF");

  // A text that is not a whole number shows the conversion error and changes nothing.
  form.Preview.PreviewScale = 2.0f;
  form.MaxZ->value("12a");
  form.ScaleButton->do_callback();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Text, "'12a' is not a valid integer value");
  EXPECT_EQ(form.Preview.PreviewScale, 2.0f);
}

TEST_F(FormMainTest, LoadedModelsGetTheirScaleAndDepthSteps) {
  Write("tall.obj", BoxOBJ(2, 12));
  Write("small.obj", BoxOBJ(-3, -1));
  Write("flat.obj", "# nothing but a comment\n");
  TFrmMain& form = Start();

  Select(form.OBJList, "tall");
  form.Button12->do_callback();
  ASSERT_TRUE(Messages.empty()) << Messages.front().Text;
  EXPECT_EQ(form.Preview.PreviewMinY, -5.0f);
  EXPECT_EQ(form.Preview.PreviewMaxY, 5.0f);
  TVec3 v;
  form.PreviewModel->GetVertex(0, v);
  EXPECT_EQ(v.Y, -5.0f);
  EXPECT_STREQ(form.MaxZ->value(), "126");
  EXPECT_EQ(form.Preview.PreviewScale, static_cast<float>(1.0L / (10.0L / (126.0L * ZStep))));
  form.RenderTimerTimer();
  EXPECT_STREQ(form.Label4->label(), "Scale: 0.405000001192093");
  EXPECT_STREQ(form.Label5->label(), "Size(Y): 10 4.05000001192093");

  // The command line's account of the same model agrees with the window.
  const std::unique_ptr<TOBJFile> copy = LoadOBJModel(Root.string(), "tall", "");
  const TPreviewFit fit = PreviewFitFor(*copy);
  EXPECT_EQ(fit.MaxZ, 126);
  EXPECT_EQ(fit.Scale, form.Preview.PreviewScale);

  Select(form.OBJList, "small");
  form.Button12->do_callback();
  EXPECT_EQ(form.Preview.PreviewMinY, -1.0f);
  EXPECT_EQ(form.Preview.PreviewMaxY, 1.0f);
  EXPECT_STREQ(form.MaxZ->value(), "62");
  EXPECT_EQ(form.Preview.PreviewScale, static_cast<float>(62.0L * ZStep / 2.0L));

  // A model without vertices.
  Select(form.OBJList, "flat");
  form.Button12->do_callback();
  EXPECT_EQ(form.Preview.PreviewMinY, 1e8f);
  EXPECT_EQ(form.Preview.PreviewMaxY, -1e8f);
  EXPECT_STREQ(form.MaxZ->value(), "1");

  // A model that fails to load keeps the one shown.
  Select(form.OBJList, "small");
  form.Button12->do_callback();
  Write("small.obj", "v 1 2 x\n");
  form.Button12->do_callback();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Title, "Error");
  EXPECT_EQ(Messages[0].Text, "small.obj:1: 'x' is not a valid floating point value");
  EXPECT_EQ(form.Preview.PreviewMaxY, 1.0f);
  EXPECT_STREQ(form.MaxZ->value(), "62");
  EXPECT_FALSE(form.ProgressBar->visible());
}

TEST_F(FormMainTest, APreviewSaysWhatARenderWouldWarnAboutInOneBox) {
  const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n";
  Write("paint.mtl", "newmtl a\nmap_Kd a.png\nnewmtl b\nmap_Kd b.png\n");
  Write("paint.obj",
        "mtllib paint.mtl\n" + tri + "usemtl a\nf 1/1 2/2 3/3\nusemtl b\nf 1/1 2/2 3/3\n");
  Write("bare.obj", "mtllib gone.mtl\n" + tri + "f 1 2 3\n");
  TFrmMain& form = Start();

  Select(form.OBJList, "paint");
  form.Button12->do_callback();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Title, "Warnings");
  EXPECT_NE(Messages[0].Text.find("paint.mtl:2: texture 'a.png' not found"), std::string::npos)
      << Messages[0].Text;
  EXPECT_NE(Messages[0].Text.find("\npaint.mtl:4: texture 'b.png' not found"), std::string::npos)
      << Messages[0].Text;
  EXPECT_EQ(form.Preview.PreviewModelName, "paint"); // shown all the same

  Messages.clear();
  Select(form.OBJList, "bare");
  form.Button12->do_callback();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Title, "Warning");
  // The program names files with "/" on every system.
  EXPECT_EQ(Messages[0].Text, "bare.obj:1: material library " +
                                  (Root / "gone.mtl").generic_string() +
                                  " not found; faces use the default material");
}

TEST_F(FormMainTest, SceneFilesAreListedAndPreviewedInTheirRestPose) {
  std::ifstream in(std::string(QUARVEL_SOURCE_DIR) + "/examples/units/walker.gltf",
                   std::ios::binary);
  std::ostringstream walker;
  walker << in.rdbuf();
  Write("units/walker.gltf", walker.str());
  Write("units/tank.obj", BoxOBJ(2, 12));
  TFrmMain& form = Start();
  EXPECT_EQ(form.OBJListItems(), (std::vector<std::string>{"units/tank", "units/walker.gltf"}));
  Select(form.OBJList, "units/walker.gltf");
  form.Button12->do_callback();
  ASSERT_TRUE(Messages.empty()) << Messages.front().Text;
  // The rest pose: the column two units high, centred.
  EXPECT_EQ(form.Preview.PreviewMinY, -1.0f);
  EXPECT_EQ(form.Preview.PreviewMaxY, 1.0f);
  EXPECT_EQ(form.Preview.PreviewModelName, "units/walker.gltf");
  form.RenderTimerTimer();
  EXPECT_TRUE(Messages.empty());
}

TEST_F(FormMainTest, LoadProgressOfATwoHundredFiftyLineModel) {
  std::string obj;
  for (int i = 0; i < 250; ++i)
    obj += "v " + std::to_string(i % 7) + " " + std::to_string(i % 5) + " 0\n";
  Write("lines.obj", obj);
  TFrmMain& form = Start();
  Select(form.OBJList, "lines");
  form.Button12->do_callback();
  ASSERT_TRUE(Messages.empty()) << Messages.front().Text;
  std::vector<int32_t> expected{0};
  for (int i = 0; i < 250; ++i) {
    const int32_t p = static_cast<int32_t>(i / 2.5);
    if (p != expected.back())
      expected.push_back(p);
  }
  EXPECT_EQ(form.LoadProgressShown, expected);
  EXPECT_EQ(form.LoadProgressShown.back(), 99);
  EXPECT_FALSE(form.ProgressBar->visible());
}

TEST_F(FormMainTest, DepthViewGetsTheClampedZMax) {
  Write("tall.obj", BoxOBJ(2, 12));
  TFrmMain& form = Start("tall");
  form.CheckBox1->value(1);
  form.CheckBox1->do_callback();
  ASSERT_TRUE(form.Preview.ShowZBuffer);
  ASSERT_NE(form.Shaders.ZBufferEx, nullptr);

  auto uniform = [&] {
    GLfloat size[3] = {0, 0, 0};
    glGetUniformfv(static_cast<GLuint>(form.Shaders.ZBufferEx->Handle),
                   form.Shaders.ZBufferExSizeLoc, size);
    return std::vector<float>{size[0], size[1], size[2]};
  };
  form.MaxZ->value("300");
  form.RenderTimerTimer();
  EXPECT_EQ(uniform(), (std::vector<float>{-5.0f, 10.0f, 127.0f}));
  form.MaxZ->value("-5");
  form.RenderTimerTimer();
  EXPECT_EQ(uniform()[2], 0.0f);
  form.MaxZ->value("zz");
  form.RenderTimerTimer();
  EXPECT_EQ(uniform()[2], 127.0f);
  EXPECT_TRUE(Messages.empty());

  // The depth view: the model's pixels have red and blue 0, green its depth step.
  form.MaxZ->value("126");
  form.RenderTimerTimer();
  const std::vector<int> centre = ViewPixel(200, 200);
  EXPECT_EQ(centre[0], 0);
  EXPECT_EQ(centre[2], 0);
  EXPECT_GT(centre[1], 0);
  EXPECT_LE(centre[1], 126);

  // "True ZBuffer" off: the grey program gets the same values.
  form.CheckBox2->value(0);
  form.CheckBox2->do_callback();
  EXPECT_FALSE(form.Preview.TrueZBuffer);
  form.MaxZ->value("40");
  form.RenderTimerTimer();
  GLfloat size[3] = {0, 0, 0};
  glGetUniformfv(static_cast<GLuint>(form.Shaders.ZBuffer->Handle), form.Shaders.ZBufferSizeLoc,
                 size);
  EXPECT_EQ(size[2], 40.0f);
}

TEST_F(FormMainTest, CheckBoxesAndLightEdits) {
  Write("tall.obj", BoxOBJ(2, 12));
  TFrmMain& form = Start("tall");
  form.RenderTimerTimer();
  const std::vector<int> filled = ViewPixel(200, 200);

  form.WireFrameCheck->value(1);
  form.WireFrameCheck->do_callback();
  EXPECT_TRUE(form.Preview.ShowWireFrame);
  form.RenderTimerTimer();
  // Lines only: the middle of a face shows the clear colour.
  EXPECT_EQ(ViewPixel(200, 200), (std::vector<int>{255, 0, 255}));
  form.WireFrameCheck->value(0);
  form.WireFrameCheck->do_callback();
  form.RenderTimerTimer();
  EXPECT_EQ(ViewPixel(200, 200), filled);

  form.ForceAmbient->value(1);
  form.ForceAmbient->do_callback();
  EXPECT_TRUE(form.Inputs.HalfAmbient);
  EXPECT_TRUE(form.PreviewGLModel->RebuildLists);
  const int64_t compiled = form.PreviewGLModel->ListsCompiled;
  form.RenderTimerTimer();
  EXPECT_GT(form.PreviewGLModel->ListsCompiled, compiled);
  form.ForceAmbient->value(0);
  form.ForceAmbient->do_callback();
  EXPECT_FALSE(form.Inputs.HalfAmbient);

  form.SpinEdit1->value(3);
  form.SpinEdit1->do_callback();
  form.SpinEdit2->value(-4);
  form.SpinEdit2->do_callback();
  form.SpinEdit3->value(5);
  form.SpinEdit3->do_callback();
  EXPECT_EQ(form.Inputs.LightPosition[0], 3.0f);
  EXPECT_EQ(form.Inputs.LightPosition[1], -4.0f);
  EXPECT_EQ(form.Inputs.LightPosition[2], 5.0f);
}

TEST_F(FormMainTest, NothingSelectedNotices) {
  Write("a.obj", BoxOBJ(0, 1));
  Write("job.settings", "angle 0 0\n");
  TFrmMain& form = Start();
  form.Button12->do_callback();
  form.Button13->do_callback();
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_EQ(Messages[0].Text, "Nothing Selected...");
  EXPECT_EQ(Messages[1].Text, "Nothing Selected....");
  EXPECT_EQ(Messages[1].Title, "Quarvel v1.0.2.0");
  EXPECT_TRUE(form.RenderTimer.Enabled());
  EXPECT_EQ(form.PreviewModel, nullptr);
}

struct TFormatCase {
  Fl_Round_Button* TFrmMain::*Radio;
  const char* Format; // quarvel-cli's --format
  std::vector<std::string> Files;
};

TEST_F(FormMainTest, RenderWritesTheJobsFilesAndReportsProgress) {
  Write("models/box.obj", "mtllib box.mtl\nusemtl red\n" + BoxOBJ(0, 2));
  Write("models/box.mtl", "newmtl red\nKa 0.2 0 0\nKd 0.9 0.1 0.1\n");
  Write("jobs/box.settings", "angle 0 0\nangle 1 90\nframe 1 models/box.obj\nzmax 100\n");
  TFrmMain& form = Start();
  Select(form.SettingsList, "jobs/box");

  // Each format's files are the very bytes quarvel-cli writes for the same job.
  const std::vector<TFormatCase> cases = {
      {&TFrmMain::KXZRadio,
       "kxz",
       {"jobs/box_0.kxz", "jobs/box_0.p16", "jobs/box_1.kxz", "jobs/box_1.p16"}},
      {&TFrmMain::RadioButton2, "2p5d", {"jobs/box_0.2p5d", "jobs/box_1.2p5d"}},
      {&TFrmMain::PNGRadio,
       "png",
       {"jobs/box_0.png", "jobs/box_0.json", "jobs/box_1.png", "jobs/box_1.json"}},
  };
  for (const TFormatCase& c : cases) {
    SCOPED_TRACE(c.Format);
    (form.*c.Radio)->setonly();
    form.Button13->do_callback();
    ASSERT_TRUE(Messages.empty()) << Messages.front().Text;
    EXPECT_STREQ(form.StatusLabel->label(), "Finished!");
    EXPECT_TRUE(form.RenderTimer.Enabled());

    const fs::path cli = Root / (std::string("cli-") + c.Format);
    RunCLI("render jobs/box --quiet --format " + std::string(c.Format) + " --root \"" +
           Root.string() + "\" --out \"" + cli.string() + "\"");
    std::vector<std::string> written;
    for (const auto& entry : fs::recursive_directory_iterator(cli))
      if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
        written.push_back(fs::relative(entry.path(), cli).generic_string());
    std::sort(written.begin(), written.end());
    std::vector<std::string> expected = c.Files;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(written, expected);
    for (const std::string& file : written) {
      SCOPED_TRACE(file);
      ASSERT_TRUE(fs::exists(Root / file));
      EXPECT_TRUE(ReadWholeFile((Root / file).string()) == ReadWholeFile((cli / file).string()));
    }
  }

  // Progress went through the bar and the label.
  form.RenderProgress(37, "Rendering OBJs - Pass 1 (Visuals)");
  EXPECT_EQ(form.StatusProgressBar->value(), 37.0f);
  EXPECT_STREQ(form.StatusLabel->label(), "Rendering OBJs - Pass 1 (Visuals)");
}

TEST_F(FormMainTest, RenderTakesForceHalfAmbientAsTheCommandLineTakesItsOption) {
  Write("models/box.obj", "mtllib box.mtl\nusemtl red\n" + BoxOBJ(0, 2));
  Write("models/box.mtl", "newmtl red\nKa 0 0 0\nKd 0.9 0.1 0.1\n");
  Write("jobs/box.settings", "angle 0 30\nframe 1 models/box.obj\nzmax 100\n");
  auto bytes = [](const fs::path& file) { return ReadWholeFile(file.string()); };
  auto cli = [&](const std::string& option, const std::string& out) {
    RunCLI("render jobs/box --quiet --root \"" + Root.string() + "\" --out \"" +
           (Root / out).string() + "\" " + option);
    return bytes(Root / out / "jobs/box_0.kxz");
  };
  const std::string plain = cli("", "plain");
  const std::string half = cli("--half-ambient", "half");
  ASSERT_FALSE(plain.empty());
  ASSERT_NE(plain, half) << "Ka 0 against the forced 0.5 ambient shows in the sprite";

  // The window's render goes the command line's way: the box decides, and only for the
  // job it is on for. The preview drawn in between does not change a job's bytes.
  TFrmMain& form = Start();
  Select(form.SettingsList, "jobs/box");
  form.ForceAmbient->value(1);
  form.ForceAmbient->do_callback();
  form.Button13->do_callback();
  ASSERT_TRUE(Messages.empty()) << Messages.front().Text;
  EXPECT_EQ(bytes(Root / "jobs/box_0.kxz"), half);
  form.ForceAmbient->value(0);
  form.ForceAmbient->do_callback();
  form.RenderTimerTimer();
  form.Button13->do_callback();
  ASSERT_TRUE(Messages.empty()) << Messages.front().Text;
  EXPECT_EQ(bytes(Root / "jobs/box_0.kxz"), plain);
}

TEST_F(FormMainTest, InfoModelAndTheWindowFitEveryRealModelAlike) {
  const fs::path root = fs::path(QUARVEL_SHARED_TESTDATA) / "real-obj";
  if (!fs::is_directory(root))
    GTEST_SKIP() << "no shared test data at " << root;
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && entry.path().extension() == ".obj") {
      const fs::path relative = fs::relative(entry.path(), root);
      names.push_back((relative.parent_path() / relative.stem()).generic_string());
    }
  std::sort(names.begin(), names.end());
  ASSERT_FALSE(names.empty());
  // The window is made on the collection's folder, so it opens the models as a user would.
  fs::remove_all(Root);
  Root = fs::temp_directory_path() / ("quarvel-form-real-" + std::to_string(getpid()));
  fs::create_directories(Root);
  Form = std::make_unique<TFrmMain>(root.string());
  Form->FormCreate("");
  TFrmMain& form = *Form;
  int compared = 0;
  for (const std::string& name : names) {
    std::unique_ptr<TOBJFile> model;
    try {
      model = LoadOBJModel(root.string(), name, name);
    } catch (const std::exception&) {
      continue; // a model the reader refuses has no fit to compare
    }
    const TPreviewFit fit = PreviewFitFor(*model); // what `info model` prints
    Messages.clear();
    form.OpenPreviewModel(name);
    EXPECT_EQ(form.Preview.PreviewScale, fit.Scale) << name;
    EXPECT_EQ(std::string(form.MaxZ->value()), std::to_string(fit.MaxZ)) << name;
    ++compared;
  }
  EXPECT_GT(compared, 50);
  RecordProperty("compared", compared);
}

TEST_F(FormMainTest, FailedRenderShowsTheErrorAndTheTimerRunsOn) {
  Write("bad.settings", "angle 0 0\nframe 1 missing.obj\n");
  TFrmMain& form = Start();
  Select(form.SettingsList, "bad");
  form.Button13->do_callback();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Title, "Error");
  EXPECT_NE(Messages[0].Text.find("missing.obj"), std::string::npos) << Messages[0].Text;
  EXPECT_EQ(Messages[0].Text, form.StatusLabel->label());
  EXPECT_TRUE(form.RenderTimer.Enabled());
  const int64_t frames = form.FramesDrawn;
  form.RenderTimerTimer();
  EXPECT_EQ(form.FramesDrawn, frames + 1);
  EXPECT_FALSE(fs::exists(Root / "bad_0.kxz"));
}

TEST_F(FormMainTest, SnapshotShowsTheView) {
  WritePlainPNG(Root / "background.png", 30, 90, 160);
  Write("tall.obj", BoxOBJ(2, 12));
  const fs::path picture = Root / "shot.png";
  const std::string command =
      ShellCommand(std::string("\"") + QUARVEL_APP + "\" --root \"" + Root.string() +
                   "\" --snapshot \"" + picture.string() + "\" tall");
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const TDecodedImage shot = DecodePNG(picture.string(), 4096);
  ASSERT_EQ(shot.Width, 927);
  ASSERT_EQ(shot.Height, 583);
  auto pixel = [&](int x, int y) {
    const size_t at = (static_cast<size_t>(y) * 927 + static_cast<size_t>(x)) * 3;
    return std::vector<int>{shot.Pixels[at], shot.Pixels[at + 1], shot.Pixels[at + 2]};
  };
  // The view area holds the background with the model in front of it.
  EXPECT_EQ(pixel(3, 3), (std::vector<int>{30, 90, 160}));
  EXPECT_NE(pixel(200, 200), (std::vector<int>{30, 90, 160}));
  EXPECT_NE(pixel(200, 200), (std::vector<int>{0, 0, 0}));
}

TEST(QuarvelProgram, VersionAndHelpNeedNoDisplay) {
  for (const char* option : {"--version", "--help"}) {
    SCOPED_TRACE(option);
    const std::string command =
        ShellCommand(WithoutDisplay + std::string("\"") + QUARVEL_APP + "\" " + option + " 2>&1");
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char chunk[256];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
      out.append(chunk, n);
    EXPECT_EQ(::pclose(pipe), 0) << out;
    if (std::string(option) == "--version")
      EXPECT_EQ(out, std::string("quarvel ") + QUARVEL_VERSION + "\n");
    else
      EXPECT_NE(out.find("scene file"), std::string::npos) << out;
  }
}

} // namespace
} // namespace quarvel
