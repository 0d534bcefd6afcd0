#!/usr/bin/env python3
"""Counts synchronous round trips in a packet capture (pcap, as tcpdump -w
writes it).

A round trip is each time a client sends after having heard from the server:
the first packet of a conversation (a TCP SYN or a first UDP datagram) and then
every packet with data that the client sends after the server's last one. A
client that sends several requests before any answer waits once, and counts
once. Plain acknowledgements carry nothing and are left out. The server side of
a conversation is the one on a well-known port.

Usage: round_trips.py CAPTURE [name=port ...]
Prints "<name>=<count>" for each named service, and "all=<count>".
"""

import struct
import sys

ETHERNET = 1
LINUX_COOKED = 113
RAW_IPV4 = 228


def packets(path):
    with open(path, "rb") as capture:
        header = capture.read(24)
        magic = struct.unpack("<I", header[:4])[0]
        if magic in (0xA1B2C3D4, 0xA1B23C4D):
            endian = "<"
        elif magic in (0xD4C3B2A1, 0x4D3CB2A1):
            endian = ">"
        else:
            raise SystemExit(f"{path}: not a pcap file")
        link_type = struct.unpack(endian + "I", header[20:24])[0]
        while True:
            record = capture.read(16)
            if len(record) < 16:
                return
            length = struct.unpack(endian + "IIII", record)[2]
            data = capture.read(length)
            if link_type == ETHERNET:
                if len(data) < 14 or data[12:14] != b"\x08\x00":
                    continue
                data = data[14:]
            elif link_type == LINUX_COOKED:
                if len(data) < 16 or data[14:16] != b"\x08\x00":
                    continue
                data = data[16:]
            elif link_type != RAW_IPV4:
                raise SystemExit(f"{path}: link type {link_type} is not read here")
            yield data


def segments(path):
    """(protocol, source, destination, source port, destination port, opens, carries data)"""
    for ip in packets(path):
        if len(ip) < 20 or ip[0] >> 4 != 4:
            continue
        header_length = (ip[0] & 0x0F) * 4
        total = struct.unpack("!H", ip[2:4])[0]
        protocol = ip[9]
        source, destination = ip[12:16], ip[16:20]
        body = ip[header_length:total]
        if protocol == 6 and len(body) >= 20:
            sport, dport = struct.unpack("!HH", body[:4])
            offset = (body[12] >> 4) * 4
            flags = body[13]
            syn, ack = bool(flags & 0x02), bool(flags & 0x10)
            yield ("tcp", source, destination, sport, dport, syn and not ack,
                   len(body) > offset or (syn and ack))
        elif protocol == 17 and len(body) >= 8:
            sport, dport = struct.unpack("!HH", body[:4])
            yield ("udp", source, destination, sport, dport, False, True)


def count(path, services):
    ports = set(services.values())
    last_from_server = {}
    totals = {port: 0 for port in ports}
    for protocol, source, destination, sport, dport, opens, carries in segments(path):
        if dport in ports:
            server_port, conversation, from_client = dport, (protocol, source, sport, destination, dport), True
        elif sport in ports:
            server_port, conversation, from_client = sport, (protocol, destination, dport, source, sport), False
        else:
            continue
        if from_client:
            first = conversation not in last_from_server
            if opens or (first and protocol == "udp") or (carries and last_from_server.get(conversation)):
                totals[server_port] += 1
            if opens or carries:
                last_from_server[conversation] = False
        elif carries:
            last_from_server[conversation] = True
    return {name: totals[port] for name, port in services.items()}


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    services = {}
    for argument in sys.argv[2:] or ["ldap=389", "smb=445", "kerberos=88"]:
        name, port = argument.split("=")
        services[name] = int(port)
    counts = count(sys.argv[1], services)
    for name, value in counts.items():
        print(f"{name}={value}")
    print(f"all={sum(counts.values())}")


if __name__ == "__main__":
    main()
