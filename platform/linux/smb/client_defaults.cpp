#include "platform/linux/smb/client.h"

// Apart from the rest of the client, so that the tests, which bring their own
// transport and sign-in, link without the real ones.
namespace kestrine::smb {

Client::Client()
    : Client([](const std::string& server,
                Deadline deadline) { return connectTcp(server, 445, deadline); },
             [](const std::string& server) { return kerberosSignIn(server); }) {}

}  // namespace kestrine::smb
