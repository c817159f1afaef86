// ServerModulePool and the wiring of TServerHost, without a network.
#include "host/server_host.h"

#include <gtest/gtest.h>

#include "host/server_module_pool.h"
#include "services/uServerModule.h"

namespace velmora::test {
namespace {

TEST(ServerModulePool, ExistsBetweenCreateAndDestroyWithItsClass) {
  EXPECT_EQ(ServerModulePool(), nullptr);
  CreateServerModulePool();
  TPoolManager* pool = ServerModulePool();
  ASSERT_NE(pool, nullptr);
  CreateServerModulePool();  // a second call keeps the pool and its instances
  EXPECT_EQ(ServerModulePool(), pool);
  EXPECT_EQ(pool->InstanceClass().ClassName, "TServerModule1");
  EXPECT_TRUE(pool->InstanceClass().IsComponent);
  EXPECT_NE(dynamic_cast<TServerModule1*>(pool->LockPoolObject()), nullptr);
  DestroyServerModulePool();
  EXPECT_EQ(ServerModulePool(), nullptr);
  DestroyServerModulePool();
}

TEST(ServerHost, ComponentsAreWiredToTheModuleAndItsPool) {
  TServerHost host;
  EXPECT_FALSE(host.DSServer1.AutoStart);
  EXPECT_EQ(host.DSServer1.Transport, &host.DSTCPServerTransport1);
  EXPECT_EQ(host.DSServer1.ServerClass, &host.DSServerClass1);
  EXPECT_EQ(host.DSTCPServerTransport1.AuthenticationManager, &host.DSAuthenticationManager1);
  EXPECT_EQ(host.DSTCPServerTransport1.Port, 211);
  EXPECT_EQ(host.DSTCPServerTransport1.BufferKBSize, 512u);
  EXPECT_EQ(host.DSTCPServerTransport1.CompressMoreThan, 1024u);
  EXPECT_FALSE(host.Started());

  const TDSMethodTable* cls = nullptr;
  host.DSServerClass1.OnGetClass(host.DSServerClass1, cls);
  EXPECT_EQ(cls, &TServerModule1::Methods());

  CreateServerModulePool();
  TDSCreateInstanceEventObject created{&host.DSServerClass1, nullptr};
  host.DSServerClass1.OnCreateInstance(created);
  ASSERT_NE(created.ServerClassInstance, nullptr);
  ASSERT_EQ(ServerModulePool()->Count(), 1u);
  EXPECT_TRUE(ServerModulePool()->InUse(0));
  TDSDestroyInstanceEventObject destroyed{&host.DSServerClass1, created.ServerClassInstance};
  host.DSServerClass1.OnDestroyInstance(destroyed);
  EXPECT_FALSE(ServerModulePool()->InUse(0));
  DestroyServerModulePool();

  // Without the pool a session cannot get an instance: its first call fails.
  TDSCreateInstanceEventObject orphan{&host.DSServerClass1, nullptr};
  EXPECT_THROW(host.DSServerClass1.OnCreateInstance(orphan), std::logic_error);
}

}  // namespace
}  // namespace velmora::test
