#!/usr/bin/python3
"""An SNMP manager independent of Net-SNMP (pysnmp), for the end-to-end tests.

usage: snmp_client.py get|set|walk HOST:PORT COMMUNITY OID [TEXT] [--timeout S] [--retries N]

Prints one line per variable, "OID = VALUE", or one line "error: STATUS" (an SNMP error
status such as genErr or commitFailed, or "timeout"), and exits 0 on success, 1 on an SNMP
error and 2 on a timeout or a usage problem.
"""
import argparse
import sys

from pysnmp.hlapi import (CommunityData, ContextData, ObjectIdentity, ObjectType, OctetString,
                          SnmpEngine, UdpTransportTarget, getCmd, nextCmd, setCmd)


def show(value):
    if isinstance(value, OctetString):
        return value.asOctets().decode("latin-1")
    return value.prettyPrint()


def report(error_indication, error_status, var_binds):
    """Prints the outcome of one request; returns the exit status."""
    if error_indication:
        text = str(error_indication)
        print("error: timeout" if "timeout" in text.lower() or "no snmp response" in text.lower()
              else "error: " + text)
        return 2
    if error_status:
        print("error: " + error_status.prettyPrint())
        return 1
    for name, value in var_binds:
        print("%s = %s" % (".".join(str(n) for n in name.asTuple()), show(value)))
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("op", choices=["get", "set", "walk"])
    parser.add_argument("target")
    parser.add_argument("community")
    parser.add_argument("oid")
    parser.add_argument("text", nargs="?")
    parser.add_argument("--timeout", type=float, default=5.0)
    parser.add_argument("--retries", type=int, default=0)
    args = parser.parse_args()

    host, port = args.target.rsplit(":", 1)
    engine = SnmpEngine()
    auth = CommunityData(args.community, mpModel=1)
    target = UdpTransportTarget((host, int(port)), timeout=args.timeout, retries=args.retries)
    oid = ObjectType(ObjectIdentity(args.oid))

    if args.op == "get":
        indication, status, _, var_binds = next(getCmd(engine, auth, target, ContextData(), oid))
        return report(indication, status, var_binds)
    if args.op == "set":
        if args.text is None:
            parser.error("set needs a value")
        value = ObjectType(ObjectIdentity(args.oid), OctetString(args.text))
        indication, status, _, var_binds = next(
            setCmd(engine, auth, target, ContextData(), value))
        return report(indication, status, var_binds)
    rows = []
    for error_indication, error_status, _, var_binds in nextCmd(
            engine, auth, target, ContextData(), oid, lexicographicMode=False):
        if error_indication or error_status:
            return report(error_indication, error_status, var_binds)
        rows.extend(var_binds)
    return report(None, None, rows)


if __name__ == "__main__":
    sys.exit(main())
