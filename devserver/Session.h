// One client connection: PRELOGIN, LOGIN7, then batches and remote procedure calls until the client
// goes away.
#pragma once

#include "Engine.h"

#include <string>

struct LoginPolicy {
    std::string user = "sa";
    std::string password = "pvtmo";
    bool refuseAll = false; // fault: every login fails as a wrong password would
    // A client that cannot encrypt is refused (from 2005 on).
    bool forceEncryption = false;
};

void runSession(int fd, Instance& instance, const LoginPolicy& login, int sessionId);
