#include "client/cli_exit_codes.h"

#include "client/cli_commands.h"
#include "rpc/rpc_errors.h"

namespace velmora::cli {

int ReportFailure(const std::exception_ptr& failure, std::ostream& err) {
  try {
    std::rethrow_exception(failure);
  } catch (const ECommandFailed& e) {
    err << e.what() << '\n';
    return kExitFailed;
  } catch (const EUsage& e) {
    err << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const EDSLoginError& e) {
    err << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const EDSRemoteError& e) {
    err << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const EDSConnectionError& e) {
    err << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const EDSProtocolError& e) {
    err << e.what() << '\n';
    return kExitUsageOrConnection;
  } catch (const std::exception& e) {
    // A packet that cannot be read, a listing out of step and the like.
    err << e.what() << '\n';
    return kExitFailed;
  }
}

}  // namespace velmora::cli
