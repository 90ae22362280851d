// gRPC's own server with nothing of the panel's on it: a generic service on a
// completion queue and one thread waiting there. perf_report counts its idle
// wake-ups with one call open, the least any server on this gRPC costs. It
// prints its port, then runs until it is killed.
#include <cstdio>
#include <grpcpp/generic/async_generic_service.h>
#include <grpcpp/grpcpp.h>

int main() {
    grpc::AsyncGenericService service;
    grpc::ServerBuilder builder;
    int port = 0;
    builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
    builder.RegisterAsyncGenericService(&service);
    const std::unique_ptr<grpc::ServerCompletionQueue> queue = builder.AddCompletionQueue();
    const std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
    std::printf("%d\n", port);
    std::fflush(stdout);
    // No call is ever asked for, so one that comes stays open.
    void* tag = nullptr;
    bool ok = false;
    queue->Next(&tag, &ok);
    return 0;
}
