"""One lockstep cycle against torvane-sim with --lockstep --trace: send the command, read the
emulator's account of what it did with it, then Recv (the answer, if any, is queued by then)."""


def lockstep(udp, sim, cmd):
    """`udp` a module endpoint, `sim` a SimProcess; returns (kind, what Recv returned)."""
    udp.SetSend(cmd)
    udp.Send()
    kind = sim.answer()
    return kind, udp.Recv()
