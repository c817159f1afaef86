// EBackupError: a backup that could not be made; the message says why and names the file or
// folder concerned.
#pragma once

#include "common/velmora_error.h"

namespace velmora {

class EBackupError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

}  // namespace velmora
