// hostsim: sets up and inspects the simulated host.
int main() { return 0; }
