// Placeholder for the AVI writer until it lands: the one writer object of the program.
#pragma once

namespace vexo {

class CAviFile {
public:
    CAviFile() = default;
};

} // namespace vexo
