#include "board/SimulatedBoard.h"

std::unique_ptr<TSimulatedBoard> TSimulatedBoard::Start(const std::string &imagePath,
                                                        std::string &error)
{
    TBoardOptions options;
    options.ImagePath = imagePath;
    return Start(options, error);
}

std::unique_ptr<TSimulatedBoard> TSimulatedBoard::Start(const TBoardOptions &options,
                                                        std::string &error)
{
    std::unique_ptr<TBoardServer> server = StartSimulatedBoard(options, &error);
    if (!server)
        return nullptr;
    return std::unique_ptr<TSimulatedBoard>(new TSimulatedBoard(std::move(server)));
}
