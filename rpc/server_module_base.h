// TDSServerModuleBase: the base of every object whose methods are published to clients. The
// remote-method layer calls methods on instances handed to it; it never owns them.
#pragma once

namespace velmora {

class TDSServerModuleBase {
 public:
  virtual ~TDSServerModuleBase() = default;
};

// A date-time value (days since 30 December 1899, local time) that travels as varDate.
struct TDateTime {
  double Value = 0;
};

}  // namespace velmora
