#include "flow/flow_step.hpp"
#include "setup/initialize.hpp"
#include "setup/parameters.hpp"
#include "setup/setup_errors.hpp"
#include "support/fields.hpp"

#include <cmath>
#include <gtest/gtest.h>

namespace {

Physical_Parameters Params(float Pr, float Ra, float hot, float cold, float init, float tau_t) {
    return Physical_Parameters{Pr, Ra, hot, cold, init, tau_t};
}

TEST(DerivedConstants, RoundingChainOfTheRelaxationTimes) {
    Derived_Constants d = Derive_Constants(Params(0.71f, 1e4f, 1, 0, 0, 0.8f), 10);
    EXPECT_EQ(d.Diffusivity, 0.1f);
    EXPECT_EQ(d.Viscosity, 0.071f);
    EXPECT_EQ(d.Tau_F, 0.713f);
}

TEST(DerivedConstants, ViscosityAndTauFTakeTheUnroundedValues) {
    // With Tau_T = 0x1.05e53ap-1 (0.5115145) and Pr = 0.71, rounding the
    // diffusivity or the viscosity before the next step changes the last bit.
    Derived_Constants d = Derive_Constants(Params(0.71f, 1e4f, 1, 0, 0, 0x1.05e53ap-1f), 10);
    EXPECT_EQ(d.Viscosity, 0x1.652fp-9f); // rounded chain: 0x1.652f02p-9
    EXPECT_EQ(d.Tau_F, 0x1.042f8ep-1f);   // rounded chain: 0x1.042f8cp-1
}

TEST(DerivedConstants, BuoyancyReferenceVelocityAndTemperature) {
    Physical_Parameters p = Params(0.71f, 1e5f, 1.5f, 0.25f, 0, 0.8f);
    const int m = 40;
    Derived_Constants d = Derive_Constants(p, m);
    // Ra = G_Beta (T_Hot - T_Cold) m^3 / (Viscosity Diffusivity), with the
    // stored viscosity and diffusivity.
    long double g_beta = (long double)p.Ra * d.Viscosity * d.Diffusivity / (1.25L * m * m * m);
    EXPECT_NEAR(d.G_Beta, float(g_beta), 1e-6 * std::fabs(double(g_beta)));
    // U_Ref is the buoyancy velocity sqrt(G_Beta (T_Hot - T_Cold) m).
    long double u_ref = std::sqrt(g_beta * 1.25L * m);
    EXPECT_NEAR(d.U_Ref, float(u_ref), 1e-6 * double(u_ref));
    EXPECT_EQ(d.T_Ref, 0.875f);
}

TEST(DerivedConstants, ReversedWallsGiveANegativeBuoyancyCoefficient) {
    Derived_Constants d = Derive_Constants(Params(0.71f, 1e4f, 0, 1, 0, 0.8f), 10);
    EXPECT_LT(d.G_Beta, 0.0f);
    EXPECT_GT(d.U_Ref, 0.0f);
}

TEST(DerivedConstants, NegativeRayleighOrPrandtlIsAClearError) {
    for (auto p : {Params(0.71f, -1e4f, 1, 0, 0, 0.8f), Params(-0.71f, 1e4f, 1, 0, 0, 0.8f)}) {
        try {
            Derive_Constants(p, 10);
            ADD_FAILURE() << "no error";
        } catch (const Parameter_Error& e) {
            EXPECT_NE(std::string(e.what()).find("negative Ra * Diffusivity / Viscosity"),
                      std::string::npos);
        }
    }
}

TEST(DerivedConstants, MCubedFitsUpToTheLimit) {
    Derived_Constants d = Derive_Constants(Params(0.71f, 1e6f, 1, 0, 0, 0.8f), 1290);
    EXPECT_GT(d.G_Beta, 0.0f);
}

// The check before step 1 against the collision itself: at the largest m
// it names, the first collision of a fluid at rest at T_Init changes F; one
// node higher it leaves every bit as it was.
TEST(BuoyancyResolution, LargestGridIsWhereTheCollisionStillMovesTheFluid) {
    for (const Physical_Parameters& p :
         {Params(0.71f, 1e4f, 1, 0, 0, 0.6f), Params(0.71f, 1e3f, 2, -1, 2.5f, 0.8f)}) {
        const int largest = Largest_Resolving_M(p, 1290, 1.0);
        ASSERT_GT(largest, 2);
        ASSERT_LT(largest, 1290);
        for (int m : {largest, largest + 1}) {
            const Derived_Constants d = Derive_Constants(p, m);
            Run_State s(2, 2); // one interior node
            s.Initial(p.T_Hot, p.T_Cold, p.T_Init);
            const Field before = s.F;
            Flow_Collision(s.n, s.m, d.T_Ref, d.G_Beta, s.Rho, s.U, s.V, d.Tau_F, s.F, s.Feq, s.T);
            EXPECT_EQ(Same_Bits(s.F, before), m > largest) << "m = " << m;
            EXPECT_EQ(Resolve_Buoyancy(p, d).Resolved, m == largest);
            if (m > largest) {
                EXPECT_THROW(Check_Buoyancy(p, d, m), Parameter_Error);
            }
        }
    }
}

TEST(BuoyancyResolution, WarnsBelowFiftyUnitsInTheLastPlace) {
    const Physical_Parameters p = Params(0.71f, 1e4f, 1, 0, 0, 0.6f);
    const int fine = Largest_Resolving_M(p, 1290, Buoyancy_Error_Warned);
    EXPECT_GE(Resolve_Buoyancy(p, Derive_Constants(p, fine)).Units, 50.0);
    EXPECT_LT(Resolve_Buoyancy(p, Derive_Constants(p, fine + 1)).Units, 50.0);
    EXPECT_EQ(Check_Buoyancy(p, Derive_Constants(p, fine), fine), "");
    EXPECT_NE(Check_Buoyancy(p, Derive_Constants(p, fine + 1), fine + 1), "");
}

TEST(ParameterChecks, BoundsAreStrict) {
    const Parameter_Lines none;
    const float above_half = std::nextafter(0.5f, 1.0f), tiny = 1e-45f;
    EXPECT_NO_THROW(Check_Parameters(Params(tiny, tiny, 1, 0, 0, above_half), none));
    for (const Physical_Parameters& p :
         {Params(0.71f, 1e4f, 1, 0, 0, 0.5f), Params(-0.0f, 1e4f, 1, 0, 0, 0.8f),
          Params(0.71f, -0.0f, 1, 0, 0, 0.8f), Params(0.71f, 1e4f, 0.25f, 0.25f, 0, 0.8f)})
        EXPECT_THROW(Check_Parameters(p, none), Parameter_Error);
}

TEST(ParameterChecks, OnlyANumberAfterTheValueIsWarned) {
    Parameter_Lines lines;
    for (Value_Line* v :
         {&lines.Pr, &lines.Ra, &lines.T_Hot, &lines.T_Cold, &lines.T_Init, &lines.Tau_T}) {
        v->line = 2;
        v->item = std::string(1, '1'); // (= "1" trips a false GCC 12 -Wrestrict)
    }
    lines.Pr.rest = " Prandtl 0.71";     // a comment, even with a number later
    lines.Ra.rest = ", Rayleigh";        // a comma, but no digits after it
    lines.T_Hot.rest = "\t# 2";          // not a number
    lines.T_Cold.rest = "";              // nothing
    lines.T_Init.rest = "\t-5e-1 start"; // a second number
    lines.Tau_T.rest = ",5";             // a decimal comma
    const std::vector<std::string> w = Reading_Warnings(lines);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].rfind("warning: T_Init (Input_Parameters.Input line 2): the value is 1", 0), 0u);
    EXPECT_NE(w[0].find("\"-5e-1 start\""), std::string::npos) << w[0];
    EXPECT_NE(w[1].find("write a decimal point, 1.5"), std::string::npos) << w[1];
}

// The cause a trap's line names after the flow warnings: every setting its
// remedy names clears both warnings, and the grid it names is the coarsest.
TEST(ParameterChecks, BlowUpRemedyClearsBothWarnings) {
    auto cause = [](float Ra, float Tau_T, int m) {
        const Physical_Parameters p = Params(0.71f, Ra, 1, 0, 0, Tau_T);
        return Blow_Up_Cause(p, Derive_Constants(p, m), m, m);
    };
    auto warned = [](float Ra, float Tau_T, int m) {
        const Physical_Parameters p = Params(0.71f, Ra, 1, 0, 0, Tau_T);
        return Stability_Warnings(p, Derive_Constants(p, m), m).size();
    };
    EXPECT_EQ(cause(1e4f, 0.6f, 64), ""); // nothing warned
    EXPECT_EQ(cause(1e9f, 0.65f, 1), ""); // no fluid
    EXPECT_EQ(cause(1e6f, 0.65f, 32),
              "the flow has blown up, as U_Ref = 1.32 (2.3 times the lattice sound speed, "
              "warned above) let it; Tau_T from 0.5141 to 0.5164 on this grid, or m = 292 or "
              "more at this Tau_T, keeps U_Ref below 0.25 times the sound speed and Tau_F at "
              "0.51 or more");
    EXPECT_EQ(warned(1e6f, 0.5141f, 32) + warned(1e6f, 0.5164f, 32) + warned(1e6f, 0.65f, 292), 0u);
    EXPECT_EQ(warned(1e6f, 0.5165f, 32) + warned(1e6f, 0.65f, 291), 2u);
    // Both warned, and no Tau_T clears both on this grid: a finer one with
    // the smallest Tau_T that Tau_F allows.
    const std::string both = cause(1e9f, 0.505f, 32);
    EXPECT_EQ(both.rfind("the flow has blown up, as U_Ref = 1.39 (2.4 times the lattice sound "
                         "speed) and Tau_F = 0.5035 (below 0.51), both warned above, let it; m = "
                         "868 or more with Tau_T = 0.5141 keeps",
                         0),
              0u)
        << both;
    EXPECT_EQ(warned(1e9f, 0.5141f, 868), 0u);
    EXPECT_EQ(warned(1e9f, 0.5141f, 867), 1u);
}

TEST(InitialState, FieldsAtRestWithTheWallTemperatures) {
    Run_State s(6, 4);
    s.Initial(1.0f, 0.0f, 0.5f);
    for (int j = 0; j <= s.m; ++j) {
        for (int i = 0; i <= s.n; ++i) {
            std::size_t c = Node(s.n, i, j);
            float expected_t = i == 0 ? 1.0f : i == s.n ? 0.0f : 0.5f;
            EXPECT_EQ(s.T[c], expected_t);
            EXPECT_EQ(s.T_Old[c], 0.5f); // copied before the walls were set
            EXPECT_EQ(s.Rho[c], 1.0f);
            EXPECT_EQ(Bits(s.U[c]), 0u);
            EXPECT_EQ(Bits(s.V_Old[c]), 0u);
            for (int k = 0; k <= 8; ++k) {
                EXPECT_EQ(Bits(s.f(k, i, j)), Bits(W[k]));
                EXPECT_EQ(Bits(s.Feq[Dist(s.n, k, i, j)]), Bits(W[k]));
                EXPECT_EQ(s.g(k, i, j), float(double(expected_t) * W[k]));
            }
        }
        EXPECT_EQ(s.g(0, 0, j), 4.0f / 9.0f);
        EXPECT_EQ(s.g(5, s.n, j), 0.0f);
    }
}

TEST(Pause, OnlyTwoOrMoreCharactersAreACommand) {
    EXPECT_EQ(Pause_Command(""), "");
    EXPECT_EQ(Pause_Command("   \t "), "");
    EXPECT_EQ(Pause_Command("x"), "");
    EXPECT_EQ(Pause_Command("x   "), "");
    EXPECT_EQ(Pause_Command("ls"), "ls");
    EXPECT_EQ(Pause_Command("  ls -l \t\t "), "  ls -l");
}

TEST(Pause, KeepsTheFirst128Characters) {
    std::string line = "echo " + std::string(200, 'a');
    EXPECT_EQ(Pause_Command(line), line.substr(0, 128));
    // Blanks cut only after the line is shortened.
    std::string padded = "ab" + std::string(126, ' ') + "cd";
    EXPECT_EQ(Pause_Command(padded), "ab");
}

} // namespace
