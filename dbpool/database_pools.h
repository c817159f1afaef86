// The process-wide database pools, capacity 30 each. The program entry creates them before
// anything uses them and destroys them at exit; the order is fixed here: created stored-procedure
// pool, query pool, connection pool; destroyed connection pool, query pool, stored-procedure pool.
#pragma once

#include "dbpool/uFDConnPool.h"
#include "dbpool/uFDQueryPool.h"
#include "dbpool/uFDStoredProcPool.h"

namespace velmora {

inline constexpr int kDatabasePoolCapacity = 30;

// Creates the three pools; does nothing when they exist. Called on the main thread before any
// client activity.
void CreateDatabasePools();
// Destroys the three pools with every object they hold; does nothing when they do not exist.
// Called on the main thread after all client activity has ended.
void DestroyDatabasePools();

// The pools; nullptr before CreateDatabasePools and after DestroyDatabasePools.
TFDConnectionPool* FDConnectionPool();
TFDQueryPool* FDQueryPool();
TFDStoredProcPool* FDStoredProcPool();

}  // namespace velmora
