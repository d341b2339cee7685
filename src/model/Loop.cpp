#include "model/Loop.h"

namespace mb {

void Loop::WriteValues(ByteWriter& out) const {
    for (const Step& step : steps)
        step.WriteValues(out);
}

void Loop::ReadValues(ByteReader& in) {
    for (Step& step : steps)
        step.ReadValues(in);
}

} // namespace mb
