// Sets a SiLA 2 server's name over TLS, as an orchestrator would; for the
// discovery test, which runs in a shell.
//   sila_rename HOST:PORT CERTIFICATE.pem NAME
#include "SiLAService.grpc.pb.h"

#include <chrono>
#include <fstream>
#include <grpcpp/grpcpp.h>
#include <iostream>
#include <sstream>

namespace ss = sila2::org::silastandard::core::silaservice::v1;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: sila_rename HOST:PORT CERTIFICATE.pem NAME\n";
        return 2;
    }
    std::stringstream pem;
    pem << std::ifstream(argv[2]).rdbuf();
    grpc::SslCredentialsOptions trust;
    trust.pem_root_certs = pem.str();
    const auto service = ss::SiLAService::NewStub(grpc::CreateChannel(argv[1], grpc::SslCredentials(trust)));
    ss::SetServerName_Parameters request;
    request.mutable_servername()->set_value(argv[3]);
    ss::SetServerName_Responses none;
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds{10});
    const grpc::Status status = service->SetServerName(&context, request, &none);
    if (!status.ok()) {
        std::cerr << "sila_rename: " << status.error_message() << '\n';
        return 1;
    }
    return 0;
}
