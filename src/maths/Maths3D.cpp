#include "maths/Maths3D.h"

#include <cmath>

namespace quarvel {

float Normalize(TVec3& V) {
  // Sum and root in extended precision, then round once to float: the float length is
  // what callers compare and what the components are divided by, so both agree.
  const long double x = V.X;
  const long double y = V.Y;
  const long double z = V.Z;
  const float length = static_cast<float>(std::sqrt(x * x + y * y + z * z));
  if (length > 0.0f) {
    V.X /= length;
    V.Y /= length;
    V.Z /= length;
  }
  return length;
}

} // namespace quarvel
