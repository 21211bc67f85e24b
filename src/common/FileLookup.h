// The one file lookup of the program. Models, materials, settings files and textures
// come from a platform whose file names ignore letter case and use "\" as separator,
// so every file the program reads is found through here:
//   - "\" and "/" are treated alike;
//   - a path that exists exactly is used as it is;
//   - otherwise each component is matched against its folder's entries without
//     regard to case (an exact match always wins; among several case-insensitive
//     matches the first in byte order is taken, so the choice is repeatable).
#pragma once

#include "common/Error.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quarvel {

// "\" becomes "/"; nothing else changes.
std::string NormaliseSeparators(std::string path);

// The existing path that `path` names, or nothing when no such file or folder exists.
std::optional<std::string> FindPath(const std::string& path);

// FindPath, or the normalised path itself when nothing exists, so that an open that
// then fails names what the user asked for.
std::string ResolvePath(const std::string& path);

// True when FindPath finds a regular file.
bool FileExists(const std::string& path);

// A name holding a NUL byte names no file: the system would read it only up to the NUL,
// and open another file than the one named. FindPath finds nothing for it.
bool HoldsNul(const std::string& path);
// ResolvePath for a reader about to open the file: a name holding a NUL byte is refused
// (quarvel::Error naming it escaped). Every reader of input files resolves through here.
std::string ResolveForOpening(const std::string& path);

// Joins a folder and a name with "/" (either may use "\"); an empty folder gives the name.
std::string JoinPath(const std::string& dir, const std::string& name);
// `name` below the root folder `root`, "/" separators. A root of "" or "." adds nothing,
// so the names users see in messages stay as they wrote them.
std::string RootRelative(const std::string& root, const std::string& name);

// ---- The root rule -------------------------------------------------------------------
//
// Every input a job or a model names (settings files, includes, models, material
// libraries, textures, shader files, scene files) is read from below one root folder
// (`--root`, or the window's program folder). Input files are shared between people and
// rendered on build servers, so a settings file must not be able to make the program
// read, and then quote back in a warning, a file elsewhere on the machine.
//
// ResolveInRoot(root, name) is the one place that rule is applied; every reader of such
// a file goes through it. `name` is the name as the input gave it, relative to `root`
// ("\" and "/" alike). It
//   - refuses a name that is absolute, or whose ".." components climb above the root,
//     without looking at the file system;
//   - finds the file like FindPath (letter case ignored when the exact name is missing)
//     and, when it exists, resolves it to its real target (every symbolic link on the
//     way followed) and refuses it unless that target lies below the real path of the
//     root: a link inside the root that points elsewhere counts as outside;
//   - returns the path found (root/name as FindPath gives it, not the real path, so
//     messages keep showing the names users wrote), or root/name itself when nothing
//     exists, so that the open that follows fails naming it.
// A refusal throws OutsideRoot, "PATH is outside the root folder ROOT ...", with PATH as
// the input wrote it (escaped and cut, common/Text.h); the caller puts the file and line
// that named it in front (Located). A root of "" means the current folder.
//
// The rule is lifted for the whole process by SetOutsideRootAllowed(true) (the command
// line's --allow-outside-root, for people who keep shared files elsewhere): names are
// then looked up as before, absolute ones included.
class OutsideRoot : public Error {
public:
  explicit OutsideRoot(const std::string& message) : Error(message) {}
};

std::string ResolveInRoot(const std::string& root, const std::string& name);

// Why Windows would read `name` ("/"-separated, relative) from somewhere else than below
// the root, or nullptr: a drive ("C:/x", "C:x", a texture's "C:\x" joined to its model's
// folder), a reserved device name as any part ("CON", "nul.txt", "COM1.obj": Windows
// ignores the extension and trailing spaces), an alternate data stream ("tank.obj:s").
// UNC and device paths ("\\server\share", "\\?\", "\\.\") start with a separator and
// are absolute names already. ResolveInRoot refuses these where the system reads file
// names the Windows way (platform::WindowsFileNames); elsewhere they are ordinary names.
const char* WindowsWayOut(const std::string& name);

void SetOutsideRootAllowed(bool allowed);
bool OutsideRootAllowed();

// ---- Reading whole files -----------------------------------------------------------------

// Caps on what one file may hold, checked against its size before anything is read.
constexpr uint64_t MaxSettingsFileBytes = uint64_t{16} << 20; // a settings file or include
constexpr uint64_t MaxModelFileBytes = uint64_t{2} << 30;     // an OBJ or MTL file
constexpr uint64_t MaxShaderFileBytes = uint64_t{16} << 20;   // a GLSL source

// Reads a whole file found through ResolvePath. Only regular files are read: a device
// (/dev/zero), a pipe or a folder is refused without reading from it, as is a file larger
// than maxBytes ("units/tank.obj is 3221225472 bytes, more than the 2 GiB a model file
// may have": `kind` names what the file was read as). Throws quarvel::Error naming the file.
//
// TPipes::Accept also reads a named pipe, up to the same cap: only for the settings file a
// user names on the command line (a job generated on the fly, `render <(...)`-style, or a
// test holding a job at its first read), never for a file another file names.
enum class TPipes { Refuse, Accept };
std::string ReadWholeFile(const std::string& path, uint64_t maxBytes = MaxModelFileBytes,
                          const char* kind = "file", TPipes pipes = TPipes::Refuse);

// The first `count` bytes of a regular file (fewer when it is shorter), and its size, for
// readers whose header says how large the whole file may be. Same refusals as above.
std::string ReadFileHead(const std::string& path, size_t count, uint64_t& fileSize);

// Files the program keeps in output folders (outputs, manifests, lock files, temporary
// files) share those folders with whoever else can write there, who may leave a FIFO, a
// device or a socket under such a name: opening it could wait for ever, or act on the
// device. Throws quarvel::Error "PATH: cannot WHAT: a FIFO (named pipe) has that name;
// remove it" when one, or a folder, has the name `path` itself (a link is not followed).
void RefuseSpecialFile(const std::string& path, const std::string& what);

// Reads a file of the program's own from an output folder (a manifest), neither through a
// link nor waiting on a pipe: nullopt when there is none or it cannot be read (a link in
// its place, more than maxBytes). RefuseSpecialFile's error ("cannot `what`") when
// something else has its name.
std::optional<std::string> ReadOwnFile(const std::string& path, uint64_t maxBytes,
                                       const std::string& what);

// "16 MiB", "2 GiB", "512 bytes": a cap as messages show it.
std::string ByteCapText(uint64_t bytes);

} // namespace quarvel
