// The renderer's fingerprint: which bytes this machine's OpenGL makes of a job.
//
// The same job gives different sprite files on two machines whose drivers differ (another
// Mesa version, a GPU instead of the software rasteriser, another sample count), and the
// driver's strings do not tell them apart reliably (llvmpipe names only its LLVM version).
// So the fingerprint is measured: a tiny fixed job (a textured, lit box with a side face,
// two angles) goes through the whole job path in the program's GL view as a render would
// (all three passes at the view's sample count, gap removal, palettes, finishing) and the
// KXZ and palette bytes it would write are hashed (XXH3-128, 32 hex digits).
//
// It uses the program's built-in shaders, not the root's: shader files of a root are the
// job's inputs (JobInputs.h), the fingerprint describes the machine.
#pragma once

#include <optional>
#include <string>

namespace quarvel {

// Makes the GL view when there is none (PrepareGL's view) and renders the fixed job once
// per process; later calls return the same value. Throws quarvel::Error when there is no
// OpenGL or the job fails. Each measurement is written to the fingerprint cache.
std::string RendererFingerprint(const std::string& deviceChoice = "");

// The fingerprint of the last measurement on this machine, when nothing that chooses or
// makes up the driver has changed since, without making a GL context: a batch whose jobs
// are all up to date then needs no GL at all. Nothing when there is no such measurement.
//
// The cache, ${XDG_CACHE_HOME:-$HOME/.cache}/quarvel/renderer-fingerprint, records with
// the fingerprint what it was measured with: this program file (size, time, inode), the
// machine (/etc/machine-id, host name), the GL-related environment (MESA_*, LIBGL_*,
// GALLIUM_*, EGL_*, LP_*, __GLX_*, __EGL_*, DRI_*), the device nodes in /dev/dri and
// every shared library the measuring process had mapped (size, time, inode: a Mesa or
// LLVM update replaces them). `deviceChoice` names anything else that picks the device
// (a command-line choice of GPU); it is part of the record too.
std::optional<std::string> CachedRendererFingerprint(const std::string& deviceChoice = "");

} // namespace quarvel
