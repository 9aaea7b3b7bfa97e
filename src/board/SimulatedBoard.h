#pragma once

#include "board/BoardServer.h"

#include <memory>
#include <string>

// The virtual board of the program's --simulate: a served, fault-free board
// whose chip starts erased or from an INHX8M file.
class TSimulatedBoard
{
public:
    // imagePath "" leaves the chip erased. Null with error set on failure.
    static std::unique_ptr<TSimulatedBoard> Start(const std::string &imagePath,
                                                  std::string &error);
    // Any options, the faults and the trace included.
    static std::unique_ptr<TSimulatedBoard> Start(const TBoardOptions &options,
                                                  std::string &error);

    const std::string &DevicePath() const { return FServer->DevicePath(); }
    TBoardServer &Server() { return *FServer; }

private:
    explicit TSimulatedBoard(std::unique_ptr<TBoardServer> server)
        : FServer(std::move(server))
    {
    }

    std::unique_ptr<TBoardServer> FServer;
};
