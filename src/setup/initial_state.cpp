#include "setup/initialize.hpp"

void Initial_State(int n, int m, float T_Hot, float T_Cold, float T_Init, Field& Rho, Field& U,
                   Field& V, Field& F, Field& Feq, Field& T, Field& G, Field& U_Old, Field& V_Old,
                   Field& T_Old) {
    const std::size_t nodes = Node_Count(n, m);
    const int hot_wall = 0, cold_wall = n;
    for (std::size_t c = 0; c < nodes; ++c) {
        Rho[c] = 1.0f;
        T[c] = T_Init;
        T_Old[c] = T[c];
        U[c] = 0.0f;
        U_Old[c] = U[c];
        V[c] = 0.0f;
        V_Old[c] = V[c];
    }
    // The wall columns after the old copy: T_Old holds T_Init there too.
    for (int j = 0; j <= m; ++j)
        T[Node(n, hot_wall, j)] = T_Hot;
    for (int j = 0; j <= m; ++j)
        T[Node(n, cold_wall, j)] = T_Cold;
    for (std::size_t c = 0; c < nodes; ++c) {
        for (int k = 0; k <= 8; ++k) {
            Feq[9 * c + k] = float(double(Rho[c]) * W[k]);
            F[9 * c + k] = Feq[9 * c + k];
            G[9 * c + k] = float(double(T[c]) * W[k]);
        }
    }
}
