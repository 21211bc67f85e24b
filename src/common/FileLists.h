// The window's file lists: the models and settings files below the program folder, and
// the background pictures beside the program.
//
// ProgDir is the program folder without a trailing separator. Names in the lists are
// relative to it, use "/" between folders and lack their extension ("cars/truck" for
// ProgDir/cars/truck.obj); those names are what the Load and Render commands accept,
// and the file lookup takes "\" in them as well.
//
// Order: the entries of each folder are taken in name order (letter case ignored, then
// byte order), folders descended into where they fall in that order (depth first). The
// platform the lists come from enumerates its folders in name order; readdir order on
// Linux is arbitrary, so sorting keeps the lists the same from run to run.
//
// Nothing here throws for an unreadable folder: it is left out, like an empty one, and
// the scans name it (and every dangling link whose name has the extension looked for) in
// `problems` when the caller passes a list for them.
#pragma once

#include <string>
#include <vector>

namespace quarvel {

// Removes the length of ProgDir + "/" from the front of Path and ExtLength characters
// from its end ("<ProgDir>/cars/truck.obj", 4 -> "cars/truck"). A path shorter than
// both parts together gives "".
std::string RelativeName(const std::string& progDir, const std::string& path, int extLength);

// Every regular file below Dir (which ends in "/") whose name ends in ".obj" (letter
// case ignored), as RelativeName(ProgDir, path, 4). A folder named "x.obj" is descended
// into, not listed. Symbolic links to folders are not followed, so a link loop cannot
// make the scan endless; links to files are listed like files.
void ScanModelFiles(const std::string& progDir, const std::string& dir,
                    std::vector<std::string>& list, std::vector<std::string>* problems = nullptr);

// What the window's "Preview Models" page lists: ScanModelFiles's ".obj" names and, where
// they fall in the same order, the names `isSceneFile` accepts (scene files:
// IsSceneFileName, models/SceneFormats.h) named with their extension
// ("units/walker.gltf"), since the extension says how to read them.
void ScanPreviewModels(const std::string& progDir, const std::string& dir,
                       std::vector<std::string>& list,
                       bool (*isSceneFile)(const std::string& name));

// As ScanModelFiles for ".settings" (RelativeName(ProgDir, path, 9)).
void ScanSettingsFiles(const std::string& progDir, const std::string& dir,
                       std::vector<std::string>& list,
                       std::vector<std::string>* problems = nullptr);

// The files ProgDir/background*.png (letter case ignored; "background.png" itself
// matches), each without its ".png", in name order.
std::vector<std::string> ListBackgrounds(const std::string& progDir);

} // namespace quarvel
