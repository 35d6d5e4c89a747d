// The floor for process start under Wine: a console program that imports only
// kernel32 and the C runtime and does nothing. scripts/bench-start.sh.
int main()
{
    return 0;
}
