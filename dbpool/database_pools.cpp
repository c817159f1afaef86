#include "dbpool/database_pools.h"

#include <memory>

namespace velmora {
namespace {

// Set and cleared on the main thread only, while no other thread uses them.
std::unique_ptr<TFDStoredProcPool> g_stored_proc_pool;
std::unique_ptr<TFDQueryPool> g_query_pool;
std::unique_ptr<TFDConnectionPool> g_connection_pool;

}  // namespace

void CreateDatabasePools() {
  if (!g_stored_proc_pool) {
    g_stored_proc_pool = std::make_unique<TFDStoredProcPool>(kDatabasePoolCapacity);
  }
  if (!g_query_pool) g_query_pool = std::make_unique<TFDQueryPool>(kDatabasePoolCapacity);
  if (!g_connection_pool) {
    g_connection_pool = std::make_unique<TFDConnectionPool>(kDatabasePoolCapacity);
  }
}

void DestroyDatabasePools() {
  g_connection_pool.reset();
  g_query_pool.reset();
  g_stored_proc_pool.reset();
}

TFDConnectionPool* FDConnectionPool() {
  return g_connection_pool.get();
}
TFDQueryPool* FDQueryPool() {
  return g_query_pool.get();
}
TFDStoredProcPool* FDStoredProcPool() {
  return g_stored_proc_pool.get();
}

}  // namespace velmora
