// Net-SNMP keeps some of its start-up allocations for the life of the process (MIB tree
// internals, containers); LeakSanitizer would report them at exit. Our own code stays checked.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libnetsnmp.so\nleak:libnetsnmpagent.so\nleak:libnetsnmpmibs.so\n";
}
