#include "model/Step.h"

namespace mb {

int Step::GetParam(int code) const {
    int result = 0;
    VisitStepValues(
        [code, &result](const StepField& field, int16_t value) {
            if (field.code == code)
                result = field.flag ? (value != 0 ? 1 : 0) : value;
        },
        *this);
    return result;
}

void Step::SetParam(int code, int v) {
    VisitStepValues(
        [code, v](const StepField& field, Relaxed<int16_t>& value) {
            if (field.code == code)
                value = static_cast<int16_t>(field.flag ? (v != 0 ? 1 : 0) : v);
        },
        *this);
}

void Step::CopyValues(const Step& other) {
    if (&other == this)
        return;
    VisitStepValues(
        [](const StepField&, Relaxed<int16_t>& to, const Relaxed<int16_t>& from) { to = from; },
        *this, other);
    condition = other.condition;
}

void Step::WriteValues(ByteWriter& out) const {
    VisitStepValues([&out](const StepField&, const Relaxed<int16_t>& value) { out.I16(value); },
                    *this);
}

void Step::ReadValues(ByteReader& in) {
    VisitStepValues([&in](const StepField&, Relaxed<int16_t>& value) { value = in.I16(); }, *this);
}

} // namespace mb
