// Keeps the simulator library non-empty until the simulator's own sources land.
namespace lanrove::camsim {
int placeholder() { return 0; }
}
