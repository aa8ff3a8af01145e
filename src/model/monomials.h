#pragma once
// Monomials of the D state components: their number, their fixed order and the
// term routines that list them, plus the factorial that bounds the orders.
//
// Order of the terms up to total degree nu: the constant 1.0 first, then for
// f = 1..nu the block of all monomials of degree exactly f, each block in
// lexicographic order of its non-decreasing index tuples (i_1 <= ... <= i_f),
// from x1^f to xD^f. Block f occupies places TermCount(f - 1, D) + 1 through
// TermCount(f, D) (1-based). This order is that of the fitted coefficients, of
// the coefficient report and of the model evaluation.

#include <array>
#include <span>
#include <vector>

namespace odefit {

// Returns the largest argument FAC accepts (34).
// It is the largest N with N + 1 below the argument at which the
// single-precision gamma function overflows (35.03...), derived once.
int FactorialLimit();

// Returns N! rounded to single precision, or stops the run when N is out of range.
// N < 0 and N > FactorialLimit() are terminal errors of the routine "fac"
// (codes 5 and 4); the run ends when FAC returns.
float FAC(int N);

// Returns C(n + D, D), the number of monomials of degree 0..n in D variables.
// Exact integer arithmetic, after checking the factorial arguments n + D, D
// and n with FAC (in this order); 0 without any check when n < 0.
long long TermCount(int n, int D);

// Returns C(n + D, D) like TermCount, without FAC checks (0 when n < 0).
int MonomialCount(int n, int D);

// Cursor over the non-decreasing index tuples (i_1, ..., i_f), 1 <= i_k <= D,
// of one degree block; starts at (1, ..., 1).
class IndexTupleCursor {
 public:
  // The largest degree a tuple can have (orders are bounded by FAC's limit).
  static constexpr int kMaxDegree = 34;

  // Starts the tuple of degree f (0 <= f <= kMaxDegree) at (1, ..., 1).
  IndexTupleCursor(int D, int f);

  // Advances the tuple to its lexicographic successor, starting at place k.
  // Increments the rightmost place up to k that is below D and sets every
  // place to its right to the new value; never called on (D, ..., D).
  void NextIndexTuple(int k);

  // Returns i_k, 1 <= k <= f (1-based, a component index 1..D).
  int operator[](int k) const { return index_[k]; }

 private:
  int D_;
  std::array<int, kMaxDegree + 1> index_{};  // place 0 unused
};

// Fills T(1..TermCount(nu, D)) with the monomials of x(1..D) up to degree nu.
// Each term is 1.0 multiplied by x(i_1), ..., x(i_f) from left to right, which
// fixes its rounding. The counts of every degree block are checked with FAC
// as they are formed.
void MonomialTerms(std::span<const double> x, int D, int nu, std::span<double> T);

// Fills T(1..TermCount(nu, D) + 2) with the monomials, cos(n*wdt) and sin(n*wdt).
// n is the row's sample index and wdt the driving angle per sampling interval
// of the equation whose terms are formed.
void DrivenTerms(std::span<const double> x, int D, int nu, int n, double wdt,
                 std::span<double> T);

// Makes the FAC checks of MonomialTerms for order nu without forming any term.
// A caller forming many rows checks once and then fills every row with the
// Fill... routines, which give the same values and the same messages.
void CheckMonomialCounts(int D, int nu);

// Fills T as MonomialTerms does, without FAC checks; returns the count written.
// Each term is formed as its parent term (the tuple without its last index)
// times one variable, which is the same product, so the values are the same
// bits as MonomialTerms'; lower orders' terms are a prefix of higher orders'.
int FillMonomialTerms(std::span<const double> x, int D, int nu, std::span<double> T);

// Fills T as above and counts(0..nu) with the number of terms up to each order.
int FillMonomialTerms(std::span<const double> x, int D, int nu, std::span<double> T, std::span<int> counts);

// How every monomial up to order nu is formed from an earlier one: term k
// (0-based, k >= 1) is term parent[k] times x(variable[k] + 1); entry 0 is
// the constant.
struct MonomialRecurrence {
  std::vector<int> parent;
  std::vector<int> variable;
};

// Returns the recurrence of the TermCount(nu, D) monomials, without FAC checks.
MonomialRecurrence MonomialProducts(int D, int nu);

// Fills columns 1..TermCount(nu, D) of the column-major matrix A (leading
// dimension LDA >= Nrows) with the monomials of the Nrows states X (D x
// Nrows, column-major, leading dimension D): row r holds FillMonomialTerms of
// state r, bit for bit. No FAC checks.
void FillMonomialColumns(std::span<const double> X, int D, int Nrows, int nu, std::span<double> A, int LDA);

// Fills T as DrivenTerms does, without FAC checks; returns the count written.
int FillDrivenTerms(std::span<const double> x, int D, int nu, int n, double wdt,
                    std::span<double> T);

}  // namespace odefit
