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

#include <string>

namespace quarvel {

// Makes the GL view when there is none (PrepareGL's view) and renders the fixed job once
// per process; later calls return the same value. Throws quarvel::Error when there is no
// OpenGL or the job fails.
std::string RendererFingerprint();

} // namespace quarvel
