// What the toolkit's controls need from whoever owns the parameters: the
// edge (a plug-in format, a standalone program) implements it and turns each
// call into its own protocol.
//
// Threads: user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "core/Parameters.h"

namespace veltrosa {

class ParameterHost {
public:
    virtual ~ParameterHost() = default;

    virtual float parameterValue(int32_t index) = 0;
    // A value the user chose. record: the host may record it as automation
    // (false for actions, such as a button, that are not a setting).
    virtual void setParameterFromUi(int32_t index, float value, bool record) = 0;
    // The name a control shows for the parameter: the table's short name.
    virtual std::string parameterName(int32_t index) { return isParam(index) ? paramInfo(index).shortName : ""; }
    // A drag or a wheel turn starts and ends; the values come in between.
    virtual void beginGesture(int32_t /*index*/) {}
    virtual void endGesture(int32_t /*index*/) {}
};

}  // namespace veltrosa
