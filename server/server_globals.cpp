#include "server/server_globals.h"

namespace server {

framework::TThreadsList* ThreadsList = nullptr;

} // namespace server
