// kuvo_bench: Kuvo's figures against plain UDP on the same machine.
//
//   kuvo_bench figures [2 3 4 5 6]   runs the figures, prints table rows
//   kuvo_bench octave-rows FILE      figure 7 from the Octave runs' results
//   kuvo_bench ports N               N free ports of the benchmark's range
//   kuvo_bench buffer                the receive buffer Kuvo's sockets get
//   kuvo_bench transfer size=N count=M [mode=raw] [sockets=K] [rcvbuf=B]   one run
//                                    (rcvbuf: the plain receiver's SO_RCVBUF)
//   kuvo_bench role recv|echo ...    the second process of a figure
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "figures.h"
#include "kuvo.h"

using namespace bench;

int main(int argc, char** argv) {
    tightenTimerSlack();
    std::string command = argc > 1 ? argv[1] : "figures";

    if (command == "role" && argc > 2) {
        Arguments args = Arguments::parse(argc, argv, 3);
        if (std::strcmp(argv[2], "recv") == 0) return receiverRole(args);
        if (std::strcmp(argv[2], "echo") == 0) return echoRole(args);
        return 2;
    }
    if (command == "ports") {
        int n = argc > 2 ? std::atoi(argv[2]) : 1;
        for (int i = 0; i < n; ++i) std::printf("%u\n", pickPort());
        return 0;
    }
    if (command == "buffer") {
        std::printf("%d\n", kuvoSocketBuffer());
        releaseUDP();
        return 0;
    }
    if (command == "transfer") {
        Arguments args = Arguments::parse(argc, argv, 2);
        TransferPlan plan;
        plan.kuvo = args.text("mode") != "raw";
        plan.size = args.number("size", 1000000);
        plan.count = args.number("count", 1);
        plan.sockets = int(args.number("sockets", 1));
        plan.receiveBuffer = int(args.number("rcvbuf", kReceiveBuffer));
        TransferResult r = runTransfer(plan);
        std::printf("%s: sent %llu, intact %llu (whole messages %llu), %.1f MB/s, %.6f s, byte loss %.4f, send failures %llu%s%s\n",
                    plan.kuvo ? "kuvo" : "raw", static_cast<unsigned long long>(r.sent),
                    static_cast<unsigned long long>(r.intact), static_cast<unsigned long long>(r.intactMessages),
                    r.goodput(), r.elapsed, r.byteLoss(), static_cast<unsigned long long>(r.sendFailures), r.ran ? "" : ", failed: ", r.failure.c_str());
        releaseUDP();
        return r.ran ? 0 : 1;
    }
    if (command == "octave-rows" && argc > 2) {
        octaveRows(argv[2]);
        releaseUDP();
        return 0;
    }
    if (command == "figures") {
        std::set<int> wanted;
        for (int i = 2; i < argc; ++i) wanted.insert(std::atoi(argv[i]));
        auto run = [&](int figure, void (*body)()) {
            if (!wanted.empty() && !wanted.count(figure)) return;
            uint64_t start = nowNs();
            body();
            progress("figure %d: %.1f s", figure, seconds(nowNs() - start));
        };
        run(2, sendingFigure);
        run(3, transferFigure);
        run(4, smallMessageFigure);
        run(5, latencyFigure);
        run(6, scaleFigure);
        releaseUDP();
        return 0;
    }
    std::fprintf(stderr, "usage: kuvo_bench figures [2 3 4 5 6] | octave-rows FILE | ports N | buffer\n");
    return 2;
}
