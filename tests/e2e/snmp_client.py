#!/usr/bin/python3
"""An SNMP manager independent of Net-SNMP (pysnmp): get|set|walk HOST:PORT COMMUNITY OID [TEXT].

Prints "OID = VALUE" lines, or "error: WHAT" and exits 1 on an SNMP error (genErr, commitFailed,
...), 2 on a transport error such as a timeout."""
import sys

from pysnmp.hlapi import (CommunityData, ContextData, ObjectIdentity, ObjectType, OctetString,
                          SnmpEngine, UdpTransportTarget, getCmd, nextCmd, setCmd)


def main(op, target, community, oid, text=None):
    host, port = target.rsplit(":", 1)
    args = (SnmpEngine(), CommunityData(community, mpModel=1),
            UdpTransportTarget((host, int(port)), timeout=5, retries=0), ContextData())
    if op == "walk":
        steps = nextCmd(*args, ObjectType(ObjectIdentity(oid)), lexicographicMode=False)
    elif op == "set":
        steps = setCmd(*args, ObjectType(ObjectIdentity(oid), OctetString(text)))
    else:
        steps = getCmd(*args, ObjectType(ObjectIdentity(oid)))
    for indication, status, _, var_binds in steps:
        if indication or status:
            print("error: %s" % (indication or status.prettyPrint()))
            return 1 if status else 2
        for name, value in var_binds:
            shown = value.asOctets().decode("latin-1") if isinstance(value, OctetString) \
                else value.prettyPrint()
            print("%s = %s" % (".".join(str(n) for n in name.asTuple()), shown))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
