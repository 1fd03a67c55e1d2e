#!/usr/bin/env python3
"""A lab script's view of the remote-control server: pyvisa with its
pure-Python backend. Usage: pyvisa_client.py PORT BITMAP_FILE

Asks *IDN?, FETC?, a compound line, SYST:ERR? after an unknown header, then
captures (CAPT, *OPC?) and writes CAPT:DATA?'s block to BITMAP_FILE.
Exits non-zero with a message on any unexpected answer."""
import sys

import pyvisa


def expect(condition, message):
    if not condition:
        print("unexpected:", message)
        sys.exit(1)


def main():
    port, bitmap_file = sys.argv[1], sys.argv[2]
    manager = pyvisa.ResourceManager("@py")
    instrument = manager.open_resource(
        f"TCPIP0::127.0.0.1::{port}::SOCKET", read_termination="\n", write_termination="\n", timeout=20000
    )
    identity = instrument.query("*IDN?")
    print(identity)
    expect(identity.startswith("Quorvane,731942K,"), identity)

    values = instrument.query("FETC?").split(",")
    expect(len(values) == 6, values)
    height, width = float(values[0]), float(values[1])
    expect(0 < height < 1 and 0 < width < 1, values)

    compound = instrument.query("FETC:HEIG?;WIDT?;:SYST:ERR:COUN?").split(";")
    expect(len(compound) == 3 and compound[2] == "0", compound)

    instrument.write("FETC:NOISE?")
    error = instrument.query("SYST:ERR?")
    expect(error == '-113,"Undefined header"', error)
    expect(instrument.query("SYST:ERR?") == '0,"No error"', "queue not emptied")

    instrument.write("CAPT")
    expect(instrument.query("*OPC?") == "1", "*OPC?")
    expect(instrument.query("CAPT:STAT?") == "COMPLETE", "state")
    bitmap = instrument.query_binary_values("CAPT:DATA?", datatype="s", container=bytes)
    expect(len(bitmap) == 182650, len(bitmap))
    # The answers after the block are still in step.
    expect(instrument.query("*TST?") == "0", "out of step after the block")
    with open(bitmap_file, "wb") as out:
        out.write(bitmap)
    instrument.close()
    print("ok")


if __name__ == "__main__":
    main()
