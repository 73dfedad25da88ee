// usermgr-bench-noop: does nothing, linked as usermgr-db is (statically), so
// that starting it once per table is the floor of exporting a file table by
// table, one process each.
int main() { return 0; }
