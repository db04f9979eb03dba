// Parameters, class members and hardening of the generated TypeScript: the
// output must parse, declare every member once and keep the program's code.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "tsx/tsx_engine.h"

namespace {

using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::transpile_js;
using kvx_test::write_file;

struct OutputCase {
  const char* source;
  std::vector<const char*> present;  // lines or fragments the output must hold
  std::vector<const char*> absent;   // fragments it must not hold
};

void expect_output(const OutputCase& c) {
  ScopedWorkDir dir;
  const std::string ts = transpile_js(c.source);
  for (const char* text : c.present) EXPECT_NE(ts.find(text), std::string::npos) << text << "\n" << ts;
  for (const char* text : c.absent) EXPECT_EQ(ts.find(text), std::string::npos) << text << "\n" << ts;
}

TEST(MethodSignatures, HoldTheDeclaredParametersOnly) {
  const OutputCase cases[] = {
      {"class A { m(x = true) { return 1; } }", {"    m(x?: boolean): number;\n"}, {"true:"}},
      {"class A { n(a, b = a) { } }", {"    n(a: unknown, b?: unknown): void;\n"}, {}},
      {"class A { o(x = this.y) { } }", {"    o(x?: unknown): void;\n"}, {"this:", "y:"}},
      {"class A { p(q = false, r = typeof z) { } }", {"    p(q?: boolean, r?: unknown): void;\n"}, {"false:", "typeof"}},
      {"class A { u(k = new.target) { } }", {"    u(k?: unknown): void;\n"}, {"new:", "target:"}},
      // A call in a default value no longer hides the method.
      {"class A { v(s = new X(), t = f(1, 2)) { } }", {"    v(s?: unknown, t?: unknown): void;\n"}, {}},
      // A required parameter after a default keeps the earlier one required.
      {"class A { w(a = 1, b) { } }", {"    w(a: number, b: unknown): void;\n"}, {"?"}},
      // A pattern is one parameter typed by its form; rest stays a rest array.
      {"class A { t({ a, b } = {}, ...rest) { } }",
       {"    t({ a, b }?: { a: any; b: any }, ...rest: any[]): void;\n"}, {}},
      {"class A { constructor(a, b = 2) { } }", {"    constructor(a: unknown, b?: number);\n"}, {}},
  };
  for (const OutputCase& c : cases) expect_output(c);
}

TEST(ClassMembers, OneDeclarationPerClassName) {
  ScopedWorkDir dir;
  // The two local classes stay in their bodies; the top-level one is declared once.
  const std::string ts = transpile_js(
      "function a() { class Foo {} return Foo; }\nfunction b() { class Foo {} return Foo; }\nclass Foo {}\n");
  EXPECT_EQ(ts.find("declare class Foo"), ts.rfind("declare class Foo")) << ts;
  EXPECT_NE(ts.find("declare class Foo"), std::string::npos) << ts;
}

TEST(MethodSignatures, CallsStillTypeTheDeclaredPositions) {
  expect_output({"class A { m(a, b = 'x') { } }\nconst o = new A();\no.m(1, 'y');\n",
                 {"    m(a: number, b?: string): void;\n"}, {}});
}

TEST(CopiedFunctions, KeepTheirDefaultValues) {
  const OutputCase cases[] = {
      {"export function f(x = true) { return x; }", {"function f(x: boolean = true)"}, {}},
      {"function g({ a = 1 } = {}) { return a; }", {"function g({ a = 1 }: { a?: number } = {})"}, {}},
      {"function h([p, q] = [1, 2], ...rest) { return p; }", {"function h([p, q]: any[] = [1, 2], ...rest: any[])"}, {}},
      {"function k(n = 5, s = \"a,b\", o = { x: 1 }) { return n; }",
       {"function k(n: number = 5, s: string = \"a,b\", o: unknown = { x: 1 })"}, {}},
  };
  for (const OutputCase& c : cases) expect_output(c);
}

TEST(ArrowSignatures, MarkDefaultedParametersOptional) {
  const OutputCase cases[] = {
      {"const f = (x = 1) => x;", {"declare const f: <T>(x?: T) => T;"}, {}},
      {"const g = function (a, b = 'x') { return 1; };", {"declare const g: (a: unknown, b?: string) => number;"}, {}},
      {"const h = (a = 1, b) => 2;", {"declare const h: (a: number, b: unknown) => number;"}, {}},
  };
  for (const OutputCase& c : cases) expect_output(c);
}

TEST(BrokenParameterLists, EndWithTheirLine) {
  // An unclosed pattern must not take the rest of the file as its name.
  ScopedWorkDir dir;
  std::string source;
  for (int i = 0; i < 50; ++i) source += "function f" + std::to_string(i) + "({ a, b\n";
  const std::string ts = transpile_js(source);
  EXPECT_NE(ts.find("function f0({ a, b: "), std::string::npos) << ts;
  EXPECT_EQ(ts.find("function f0({ a, b\nfunction"), std::string::npos);
  EXPECT_LT(ts.size(), source.size() * 20);
}

TEST(ClassMembers, AreDeclaredOnce) {
  const OutputCase cases[] = {
      // A private field and a getter of the same plain name are two members.
      {"class C { #n = 1; get n() { return this.#n; } set n(v) { this.#n = v; } }",
       {"    #n: number;\n", "    readonly n: unknown;\n"}, {"private n", "    n("}},
      {"class D { #n = 1; n = 2; }", {"    #n: number;\n", "    n: number;\n"}, {"private"}},
      {"class E { n = 2; #n = 1; }", {"    n: number;\n", "    #n: number;\n"}, {"private"}},
      // Without a clash a private field keeps its usual form.
      {"class F { #n = 1; m() { } }", {"    private n: number;\n"}, {"#n"}},
      // A method that shares a field's name is not declared a second time.
      {"class G { size = 1; size() { return 2; } }", {"    size: number;\n"}, {"size()"}},
      {"class H { n = 1; get n() { return 2; } }", {"    n: number;\n"}, {"readonly n"}},
      // Static and instance members may share a name.
      {"class K { static n = 1; m() { } n() { } }", {"    static n: number;\n", "    n(): void;\n"}, {}},
      // A property assigned in the constructor and a method or accessor of its name.
      {"class O { constructor(s) { if (s) this.run = s; } run(x) { return x; } }", {"    run: unknown;\n"}, {"run("}},
      {"class P { set v(x) { this._v = x; } get v() { return this._v; } constructor() { this.v = 1; } }",
       {"    v: number;\n"}, {"readonly v"}},
  };
  for (const OutputCase& c : cases) expect_output(c);
}

class Hardening : public testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory("generated"); }

  std::string harden(const std::string& text) {
    write_file("generated/app.ts", text);
    testing::internal::CaptureStdout();
    const int status = tsx_enhance_and_secure_ts("app.js");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    return read_file("generated/app.ts");
  }

  ScopedWorkDir dir_;
};

TEST_F(Hardening, LeavesLiteralsAndCommentsAlone) {
  const struct {
    const char* text;
    const char* hardened;
  } cases[] = {
      {"let a: any = \"type: any\";\n", "let a: unknown = \"type: any\";\n"},
      {"let b = 'x: any' + f(c: any);\n", "let b = 'x: any' + f(c: unknown);\n"},
      {"const s = `a\n  b: any\n  ${g(x as any)}: any`;\nlet t: any;\n",
       "const s = `a\n  b: any\n  ${g(x as any)}: any`;\nlet t: unknown;\n"},
      {"/* x: any\n y: any */ let z: any;\n", "/* x: any\n y: any */ let z: unknown;\n"},
      {"let r = /: any/.test(q); // note: any\n", "let r = /: any/.test(q); // note: any\n"},
      {"let d = a / b; let e: any = c / 2;\n", "let d = a / b; let e: unknown = c / 2;\n"},
      {"return /: any/g;\n", "return /: any/g;\n"},
      // The per-line catch rule still holds.
      {"} catch (e: any) { let k: any; }\n", "} catch (e: any) { let k: any; }\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(harden(c.text), c.hardened) << c.text;
}

TEST(CodeBytes, MarkLiteralsAndComments) {
  const std::string text = "a: any; 'b: any' `c${d}e` (/f/) x / y // g\nh";
  const std::vector<bool> code = tsx_code_bytes(text);
  std::string marks;
  for (size_t i = 0; i < text.size(); ++i) marks += code[i] ? 'c' : '.';
  EXPECT_EQ(marks, "cccccccc........c..cccc..cc...cccccccc....cc");
}

}  // namespace
