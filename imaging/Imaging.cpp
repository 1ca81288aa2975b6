// The workflows' object: it owns the engine, which shows its progress on the window's panel.
#include "imaging/Imaging.h"

TImaging::TImaging(TProgramState& State, TImagingPort& Port)
    : State(State), Port(Port), Engine(std::make_unique<Tlzrw1>(&Port.CompressorHost()))
{
    // The engine's size probe follows the program-wide default, which the poller changes.
    Engine->DefaultFileMode = &State.DefaultFileMode;
}

TImaging::~TImaging() = default;
