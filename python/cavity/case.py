"""A case of the solver described in Python: the grid and the six values of
its parameter file, with both Rayleigh numbers labelled.

The conventions are the tools' and the solver's, taken from where they
live: the Rayleigh number of the cavity between the walls and the file's
(cavity.rayleigh), the choice of Tau_T from the accuracy policy
(cavity.nanofluid.choose_tau_t), the parameter file as the tools write it
(cavity.sweep.parameter_text), and the values the program reads from that
file and the constants it derives from them (the solver's own code, through
cavity._solver).
"""

import os

from . import nanofluid, rayleigh, records, sweep

NAMES = records.PARAM_NAMES  # Pr, Ra, T_Hot, T_Cold, T_Init, Tau_T


def _solver():
    from . import _solver as module
    return module


class Case:
    """A case: an n x m grid and the six values of its parameter file.

    ``Ra`` is the Rayleigh number of the cavity between the walls, which sit
    half a spacing inside the end node lines (the tools' convention); the
    parameter file gets ``Ra_file`` = Ra (m/(m-1))^3. Give ``Ra_file``
    instead to take a file's value as it stands. ``T_Init`` defaults to the
    mean wall temperature T_Ref = (T_Hot + T_Cold)/2, the quickest start;
    ``Tau_T`` to the largest that keeps U_Ref within the Mach number at
    which Nu stays within ``accuracy`` (relative) of its low-Mach value, by
    the measured study of docs/nanofluid.md ("Choosing Tau_T"), as
    ``cavity-nanofluid`` chooses it.

    Attributes: ``n``, ``m``, ``Pr``, ``Ra``, ``Ra_file``, ``T_Hot``,
    ``T_Cold``, ``T_Init``, ``Tau_T`` as given or chosen (Python floats),
    ``tau_t_choice`` (how Tau_T was chosen), ``name``; ``values`` (the six
    values as the file holds them), ``solver_values`` (the single-precision
    values the program reads from that file), ``constants`` (Tau_F, U_Ref,
    G_Beta, T_Ref, Diffusivity, Viscosity as the solver derives them) and
    ``warnings`` (the solver's warnings on doubtful values).
    Values the solver would refuse raise cavity.CaseError with its message.
    """

    def __init__(self, n, m, Pr, Ra=None, *, Ra_file=None, T_Hot=1.0, T_Cold=0.0,
                 T_Init=None, Tau_T=None, accuracy=nanofluid.DEFAULT_ACCURACY,
                 name="case"):
        self.n, self.m = int(n), int(m)
        if (Ra is None) == (Ra_file is None):
            raise ValueError("give Ra (the cavity's between the walls) or Ra_file "
                             "(the parameter file's), one of them")
        if self.m < 2:
            raise ValueError("m = %d: the cavity between the walls needs m >= 2" % self.m)
        self.Pr = float(Pr)
        if Ra is not None:
            self.Ra = float(Ra)
            self.Ra_file = rayleigh.to_solver(self.Ra, self.m)
            self._ra_file_given = False
        else:
            self.Ra_file = float(Ra_file)
            self.Ra = rayleigh.from_solver(self.Ra_file, self.m)
            self._ra_file_given = True
        self.T_Hot, self.T_Cold = float(T_Hot), float(T_Cold)
        self.T_Init = 0.5 * (self.T_Hot + self.T_Cold) if T_Init is None else float(T_Init)
        if Tau_T is None:
            self.Tau_T, limit = nanofluid.choose_tau_t(self.Pr, self.Ra, self.m,
                                                       accuracy=accuracy)
            self.tau_t_choice = ("the largest Tau_T with U_Ref <= %g c_s (Nu within %g of "
                                 "its low-Mach value), limited by %s"
                                 % (nanofluid.mach_for_accuracy(accuracy), accuracy, limit))
        else:
            self.Tau_T = float(Tau_T)
            self.tau_t_choice = "given"
        self.name = name
        self.suspension = None  # set by nanofluid_case
        self.solver_values = tuple(_solver().parse_real(records.format_value(v))
                                   for v in self.values.values())
        self.constants, self.warnings = _solver().derive(self.n, self.m, self.solver_values)

    @property
    def values(self):
        """The six values as the parameter file holds them (Ra the file's)."""
        return {"Pr": self.Pr, "Ra": self.Ra_file, "T_Hot": self.T_Hot,
                "T_Cold": self.T_Cold, "T_Init": self.T_Init, "Tau_T": self.Tau_T}

    @property
    def T_Ref(self):
        return self.constants["T_Ref"]

    @property
    def Tau_F(self):
        return self.constants["Tau_F"]

    @property
    def U_Ref(self):
        return self.constants["U_Ref"]

    @property
    def mach(self):
        """U_Ref over the lattice sound speed 1/sqrt(3)."""
        return self.U_Ref / nanofluid.LATTICE_SOUND_SPEED

    def row(self):
        """The case as a row of cavity-sweep's case table (Ra the cavity's)."""
        return {"name": self.name, "n": self.n, "m": self.m, "Pr": self.Pr, "Ra": self.Ra,
                "T_Hot": self.T_Hot, "T_Cold": self.T_Cold, "T_Init": self.T_Init,
                "Tau_T": self.Tau_T}

    def parameter_text(self):
        """The text of Input_Parameters.Input, as cavity-sweep writes it."""
        return sweep.parameter_text(self.row(),
                                    self.Ra_file if self._ra_file_given else None)

    def write(self, folder):
        """Writes Input_Parameters.Input into ``folder`` (made if needed);
        returns its path."""
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, records.PARAM_FILE)
        with open(path, "w") as fh:
            fh.write(self.parameter_text())
        return path

    @classmethod
    def read(cls, path, n, m, name="case"):
        """The case of a parameter file (a file, or a folder holding
        Input_Parameters.Input) on an n x m grid, read and checked as the
        program reads it; its Ra is the file's."""
        if os.path.isdir(path):
            path = os.path.join(path, records.PARAM_FILE)
        values, _ = _solver().read_parameters(path)
        with open(path) as fh:  # the numbers as written, not their floats
            lines = fh.read().splitlines()
        given = dict(zip(NAMES, values))
        for k, key in enumerate(NAMES):
            text = lines[2 * k + 1].split()[0].split(",")[0].replace("d", "e").replace("D", "E")
            try:
                given[key] = float(text)
            except ValueError:
                pass
        case = cls(n, m, given["Pr"], Ra_file=given["Ra"], T_Hot=given["T_Hot"],
                   T_Cold=given["T_Cold"], T_Init=given["T_Init"], Tau_T=given["Tau_T"],
                   name=name)
        # the program's reading of the file's text, whatever its digits
        case.solver_values = tuple(values)
        case.constants, case.warnings = _solver().derive(case.n, case.m, case.solver_values)
        return case

    def on_grid(self, m, n=None, name=None):
        """The same case on another grid: the same cavity Ra, Pr, wall
        temperatures, T_Init and Tau_T; the width keeps the aspect ratio
        between the walls unless ``n`` is given."""
        if n is None:
            n = max(4, int(round((self.n - 1.0) * (m - 1.0) / (self.m - 1.0) + 1.0)))
        other = Case(n, m, self.Pr, self.Ra, T_Hot=self.T_Hot, T_Cold=self.T_Cold,
                     T_Init=self.T_Init, Tau_T=self.Tau_T,
                     name=name or "%s_m%03d" % (self.name, m))
        other.suspension = self.suspension
        return other

    def __repr__(self):
        return ("Case(%s: %d x %d, Pr = %.6g, Ra = %.6g between the walls (file %.7g), "
                "T_Hot = %g, T_Cold = %g, T_Init = %g, Tau_T = %.6g, U_Ref = %.3g c_s)"
                % (self.name, self.n, self.m, self.Pr, self.Ra, self.Ra_file, self.T_Hot,
                   self.T_Cold, self.T_Init, self.Tau_T, self.mach))


def nanofluid_case(particle, phi, Ra_f, n, m, fluid="water", k_model="maxwell",
                   shape_n=3.0, mu_model="brinkman", mu_ratio=None, T_Hot=1.0, T_Cold=0.0,
                   T_Init=None, Tau_T=None, accuracy=nanofluid.DEFAULT_ACCURACY,
                   name=None, table=None):
    """The case of a suspension of ``particle`` in ``fluid`` (names of the
    shipped property table, docs/nanofluid.md) at volume fraction ``phi``,
    in the cavity where the base fluid has Rayleigh number ``Ra_f``, as
    ``cavity-nanofluid`` sets it up: the mixture's Pr, its Ra for the same
    cavity and temperature difference, and Tau_T by the accuracy policy.
    ``case.suspension`` holds phi, k_nf/k_f (``k_ratio``, which refers Nu to
    the base fluid's conductivity), mu_nf/mu_f, the models and the
    properties."""
    from .cli.nanofluid import Suspension
    table = nanofluid.load_table(table or nanofluid.TABLE_PATH)
    base = nanofluid.lookup(table, fluid, "fluid")
    part = base._replace(kind="particle") if phi == 0 and particle is None \
        else nanofluid.lookup(table, particle, "particle")
    s = Suspension(base, part, float(phi), k_model, shape_n, mu_model, mu_ratio)
    ra = nanofluid.rayleigh_from_base(Ra_f, s.base, s.props)
    case = Case(n, m, s.props["Pr"], ra, T_Hot=T_Hot, T_Cold=T_Cold, T_Init=T_Init,
                Tau_T=Tau_T, accuracy=accuracy, name=name or "phi%g" % phi)
    case.suspension = {"name": s.name, "particle": part.name, "fluid": base.name,
                       "phi": float(phi), "Ra_f": float(Ra_f),
                       "k_ratio": s.props["k_ratio"], "mu_ratio": s.props["mu_ratio"],
                       "models": dict(s.models), "properties": dict(s.props)}
    return case

