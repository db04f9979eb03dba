#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "analysis/analyzeR6.h"
#include "core/tokenizer.h"
#include "reference/literal_twins.h"
#include "test_support.h"

namespace {

using kvx_test::func_record;
using kvx_test::var_record;

// The type that the variable typing gives `name` in `source`, the variable
// being the only record of the result.
TypeInfo typed_var(const std::string& source, const std::string& name) {
  const TokenList tokens = tokenize(source);
  AnalysisResult result;
  result.vars.push_back(var_record(name));
  detect_node_ecosystem(result, tokens);
  return result.vars[0].type;
}

// The program's own table, row by row: a declaration initialised by the row's
// call takes the type of the first row for that call (markers become kinds).
TEST(NodeRules, EachRowTypesADeclarationInitialisedByItsCall) {
  int rows = 0;
  for (const NodeRule* rule = NODE_RULES; rule->module != nullptr; ++rule, ++rows) {
    const std::string module = rule->module;
    const std::string call = (module.empty() ? "" : module + ".") + rule->function + "(x)";
    SCOPED_TRACE(call);
    const NodeRule* first = NODE_RULES;
    while (std::string(first->module) != module || std::string(first->function) != rule->function) ++first;
    const std::string type_text = first->result_type;

    for (const std::string& source : {"const v = " + call + ";", "let v = await " + call + ";"}) {
      const TypeInfo type = typed_var(source, "v");
      if (type_text == "STRING" || type_text == "NUMBER" || type_text == "BOOLEAN") {
        const TypeKind kind = type_text == "STRING"   ? TYPE_STRING
                              : type_text == "NUMBER" ? TYPE_NUMBER
                                                      : TYPE_BOOLEAN;
        EXPECT_EQ(kvx_test::type_text(type), kvx_test::kind_text(kind)) << source;
      } else {
        EXPECT_EQ(type.kind, TYPE_NAMED) << source;
        EXPECT_EQ(type.type_name, type_text) << source;
      }
    }
    // The same call on another receiver, or not called, types nothing.
    EXPECT_EQ(kvx_test::type_text(typed_var("const v = other_" + call + ";", "v")), "any");
    EXPECT_EQ(kvx_test::type_text(typed_var("const v = " + call.substr(0, call.size() - 3) + ";", "v")), "any");
  }
  // Forty-nine rows, then the all-null row that ends the table.
  EXPECT_EQ(rows, 49);
  EXPECT_EQ(NODE_RULES[rows].function, nullptr);
  EXPECT_EQ(NODE_RULES[rows].result_type, nullptr);
}

TEST(NodeEcosystem, TypesDeclarationsByTheirValue) {
  struct Case {
    const char* source;
    const char* name;
    const char* type;  // as TypeScript text; a named type by its text
  } cases[] = {
      // require: nothing after the module string is looked at
      {"const fs = require('fs');", "fs", "typeof import('fs')"},
      {"const p = require('fs').promises;", "p", "typeof import('fs')"},
      {"const m = require(`mod`);", "m", "typeof import('mod')"},
      {"const fs = require('fs')", "fs", "typeof import('fs')"},
      {"const fs = require('fs'", "fs", "any"},  // the `)` position must exist
      {"const fs = require(name);", "fs", "any"},
      {"const { readFile } = require('fs');", "readFile", "any"},
      // module calls, `await` skipped
      {"let data = await fs.readFile(name);", "data", "Buffer"},
      {"var h = crypto.createHash('sha256');", "h", "crypto.Hash"},
      {"const ok = fs.existsSync(f);", "ok", "boolean"},
      {"const parts = path.join(a, b);", "parts", "string"},
      {"const up = process.uptime();", "up", "number"},
      {"const dir = process.cwd();", "dir", "string"},
      {"const mem = process.memoryUsage();", "mem", "NodeJS.MemoryUsage"},
      {"const t = process.hrtime();", "t", "[number, number]"},
      {"const s = fs.createReadStream(file);", "s", "fs.ReadStream"},
      {"const srv = https.createServer(h);", "srv", "https.Server"},
      {"const req = https.get(url);", "req", "http.ClientRequest"},
      {"const out = child_process.execSync('ls');", "out", "Buffer"},
      {"const rl = readline.createInterface({});", "rl", "readline.Interface"},
      {"const x = Path.join(a);", "x", "any"},  // case-sensitive
      {"const x = lodash.join(a);", "x", "any"},
      {"const x = fs.readFile;", "x", "any"},
      {"const x = this.fs.readFile(f);", "x", "any"},
      {"x = fs.existsSync(f);", "x", "any"},
      // bare calls
      {"const stream = createReadStream(file);", "stream", "fs.ReadStream"},
      {"const w = createWriteStream(file);", "w", "fs.WriteStream"},
      {"const rl = createInterface(", "rl", "readline.Interface"},
      {"const child = await spawn('ls');", "child", "ChildProcess"},
      {"const s = readFileSync(f);", "s", "any"},  // only fs.readFileSync is listed
      // process properties (not calls)
      {"const env = process.env;", "env", "NodeJS.ProcessEnv"},
      {"const home = process.env.HOME;", "home", "NodeJS.ProcessEnv"},
      {"const args = process.argv", "args", "string[]"},
      {"const id = process.pid;", "id", "number"},
      {"const parent = process.ppid;", "parent", "number"},
      {"const os = process.platform;", "os", "string"},
      {"const cpu = process.arch;", "cpu", "string"},
      {"const v = process.version;", "v", "string"},
      {"const code = process.exitCode;", "code", "any"},
      {"const m = process.memoryUsage;", "m", "any"},
      {"const e = process.env();", "e", "any"},  // a call: no `env` row in the table
      // construction
      {"const bus = new EventEmitter();", "bus", "EventEmitter"},
      {"const bus = new EventEmitter", "bus", "EventEmitter"},
      {"let t = await new Transform();", "t", "Transform"},
      {"const p = new PassThrough();", "p", "PassThrough"},
      {"const r = new Readable({});", "r", "Readable"},
      {"const w = new Writable({});", "w", "Writable"},
      {"const d = new Duplex({});", "d", "Duplex"},
      {"const when = new Date();", "when", "any"},
      {"const p = new stream.PassThrough();", "p", "any"},
  };
  for (const Case& c : cases) {
    const TypeInfo type = typed_var(c.source, c.name);
    EXPECT_EQ(kvx_test::type_text(type), c.type) << c.source;
    if (type.kind != TYPE_NAMED) {
      EXPECT_EQ(type.type_name, "") << c.source;
    }
  }
}

TEST(NodeEcosystem, CutsTheRequireTypeAt127Characters) {
  const std::string module(200, 'm');
  const TypeInfo type = typed_var("const big = require('" + module + "');", "big");
  EXPECT_EQ(type.kind, TYPE_NAMED);
  EXPECT_EQ(type.type_name, ("typeof import('" + module + "')").substr(0, 127));

  // 127 characters exactly still hold the closing "')".
  const std::string fits(127 - std::string("typeof import('')").size(), 'f');
  EXPECT_EQ(typed_var("const f = require('" + fits + "');", "f").type_name, "typeof import('" + fits + "')");
}

TEST(NodeEcosystem, TypesEveryVariableOfTheNameAndKeepsOtherFields) {
  const TokenList tokens = tokenize("function a() { const data = fs.readFileSync(f); } const n = path.join(x);");
  AnalysisResult result;
  result.vars.push_back(var_record("data"));
  result.vars.push_back(var_record("other"));
  result.vars.push_back(var_record("data"));
  VarInfo n = var_record("n");
  n.type.kind = TYPE_NAMED;
  n.type.type_name = "Old";
  n.type.element_kind = TYPE_NUMBER;
  result.vars.push_back(n);

  detect_node_ecosystem(result, tokens);

  EXPECT_EQ(result.vars[0].type.type_name, "Buffer");
  EXPECT_EQ(result.vars[2].type.type_name, "Buffer");
  EXPECT_EQ(result.vars[1].type.kind, TYPE_NONE);
  // A marker result only changes the kind.
  EXPECT_EQ(result.vars[3].type.kind, TYPE_STRING);
  EXPECT_EQ(result.vars[3].type.type_name, "Old");
  EXPECT_EQ(result.vars[3].type.element_kind, TYPE_NUMBER);
}

TEST(NodeEcosystem, ExaminesEveryDeclarationStartAndOverwritesEarlierTypes) {
  // The scan moves on by one token, so a declaration inside another's value
  // is examined too; a later declaration of the same name overwrites.
  const TokenList tokens = tokenize(
      "const a = f(const b = process.pid); let a = process.pid; let a = fs.statSync(p); const a2 = x;");
  AnalysisResult result;
  result.vars.push_back(var_record("a"));
  result.vars.push_back(var_record("b"));
  VarInfo typed = var_record("a2");
  typed.type.kind = TYPE_NUMBER;
  result.vars.push_back(typed);

  detect_node_ecosystem(result, tokens);

  EXPECT_EQ(result.vars[0].type.kind, TYPE_NAMED);
  EXPECT_EQ(result.vars[0].type.type_name, "fs.Stats");
  EXPECT_EQ(result.vars[1].type.kind, TYPE_NUMBER);
  EXPECT_EQ(result.vars[2].type.kind, TYPE_NUMBER);  // no Node value: untouched
}

TEST(NodeEcosystem, EndsAsTheWritesInSourceOrderLeaveEachVariable) {
  struct Case {
    const char* source;
    std::vector<const char*> writes;  // the same texts through apply_node_type, in order
  } cases[] = {
      {"let c = fs.statSync(p); let c = process.pid;", {"fs.Stats", "NUMBER"}},
      {"let c = process.pid; let c = fs.statSync(p);", {"NUMBER", "fs.Stats"}},
      {"let c = require('a'); var c = process.env; const c = process.arch;",
       {"typeof import('a')", "NodeJS.ProcessEnv", "STRING"}},
      {"let c = new Readable(); let c = new Date();", {"Readable"}},
  };
  for (const Case& c : cases) {
    AnalysisResult scanned;
    AnalysisResult applied;
    for (AnalysisResult* result : {&scanned, &applied}) {
      VarInfo var = var_record("c");
      var.type.type_name = "before";
      result->vars.push_back(var);
      result->vars.push_back(var_record("d"));
      result->vars.push_back(var);
    }
    detect_node_ecosystem(scanned, tokenize(c.source));
    for (const char* text : c.writes) reference::apply_node_type(applied, "c", text);
    for (size_t v = 0; v < scanned.vars.size(); ++v) {
      EXPECT_EQ(scanned.vars[v].type.kind, applied.vars[v].type.kind) << c.source;
      EXPECT_EQ(scanned.vars[v].type.type_name, applied.vars[v].type.type_name) << c.source;
    }
    EXPECT_NE(scanned.vars[0].type.kind, TYPE_NONE) << c.source;
  }
}

TEST(NodeEcosystem, ShortTokenListsAreSafe) {
  for (const char* source : {"", "const", "const x", "const x =", "const x = await", "const x = new"}) {
    AnalysisResult result;
    result.vars.push_back(var_record("x"));
    detect_node_ecosystem(result, tokenize(source));
    EXPECT_EQ(result.vars[0].type.kind, TYPE_NONE) << source;
  }
}

TEST(ApplyNodeType, MapsMarkersToKindsAndStoresOtherTexts) {
  struct Case {
    const char* text;
    int kind;
    const char* type_name;
  } cases[] = {
      {"STRING", TYPE_STRING, "keep"},   {"NUMBER", TYPE_NUMBER, "keep"},        {"BOOLEAN", TYPE_BOOLEAN, "keep"},
      {"string", TYPE_NAMED, "string"}, {"fs.Stats", TYPE_NAMED, "fs.Stats"}, {"", TYPE_NAMED, ""},
  };
  for (const Case& c : cases) {
    AnalysisResult result;
    VarInfo var = var_record("v");
    var.type.type_name = "keep";
    var.type.members = {1, 2, 0, 0};
    var.type.member_count = 2;
    result.vars.push_back(var);
    result.vars.push_back(var);
    result.vars.push_back(var_record("w"));

    reference::apply_node_type(result, "v", c.text);

    for (int v = 0; v < 2; ++v) {
      EXPECT_EQ(result.vars[v].type.kind, c.kind) << c.text;
      EXPECT_EQ(result.vars[v].type.type_name, c.type_name) << c.text;
      EXPECT_EQ(result.vars[v].type.member_count, 2) << c.text;
    }
    EXPECT_EQ(result.vars[2].type.kind, TYPE_NONE) << c.text;
  }

  AnalysisResult empty;
  reference::apply_node_type(empty, "v", "STRING");  // no match: nothing happens
  EXPECT_TRUE(empty.vars.empty());
}

TEST(SetFuncParamNodeType, TypesTheFirstFunctionsParameterAndEmptiesItsShape) {
  AnalysisResult result;
  result.funcs.push_back(func_record("handle", {"req", "res"}));
  result.funcs.push_back(func_record("handle", {"other"}));
  result.funcs[0].param_shapes[1].fields.push_back({"url", TYPE_STRING});
  result.funcs[0].param_shapes[0].fields.push_back({"method", TYPE_STRING});

  set_func_param_node_type(result, "handle", 1, "http.ServerResponse");
  EXPECT_EQ(result.funcs[0].param_types[1].kind, TYPE_NAMED);
  EXPECT_EQ(result.funcs[0].param_types[1].type_name, "http.ServerResponse");
  EXPECT_TRUE(result.funcs[0].param_shapes[1].fields.empty());
  EXPECT_EQ(result.funcs[0].param_shapes[0].fields.size(), 1u);  // other positions untouched
  EXPECT_EQ(result.funcs[1].param_types[0].kind, TYPE_NONE);              // only the first match

  // Out of range or unknown: nothing happens.
  for (int index : {2, -1, 16, 100}) set_func_param_node_type(result, "handle", index, "X");
  set_func_param_node_type(result, "missing", 0, "X");
  EXPECT_EQ(result.funcs[0].param_types[0].kind, TYPE_NONE);
  EXPECT_EQ(result.funcs[0].param_shapes[0].fields.size(), 1u);
}

TEST(SetFuncParamNodeType, PositionsPastTheSixteenShapesStillGetTheirType) {
  std::vector<std::string> params;
  for (int p = 0; p < 20; ++p) params.push_back("p" + std::to_string(p));
  AnalysisResult result;
  result.funcs.push_back(func_record("many", params));
  set_func_param_node_type(result, "many", 18, "Buffer");
  EXPECT_EQ(result.funcs[0].param_types[18].type_name, "Buffer");
}

struct Handler {
  const char* name;
  std::vector<std::string> params;
};

// The parameter types of the handlers after the callback typing of `source`,
// one "name:type" text per typed parameter.
std::set<std::string> typed_params(const std::string& source, const std::vector<Handler>& handlers) {
  AnalysisResult result;
  for (const Handler& handler : handlers) result.funcs.push_back(func_record(handler.name, handler.params));
  detect_node_callbacks(result, tokenize(source));
  std::set<std::string> typed;
  for (const FuncInfo& func : result.funcs) {
    for (int p = 0; p < func.param_count(); ++p) {
      if (func.param_types[p].kind != 0) {
        typed.insert(func.name + "." + func.param_names[p] + ":" + func.param_types[p].type_name);
      }
    }
  }
  return typed;
}

TEST(NodeCallbacks, TypesNamedServerAndEventHandlers) {
  const std::vector<Handler> two = {{"handle", {"req", "res"}}};
  struct Case {
    const char* source;
    std::vector<Handler> handlers;
    std::set<std::string> typed;
  } cases[] = {
      {"http.createServer(handle);", two,
       {"handle.req:http.IncomingMessage", "handle.res:http.ServerResponse"}},
      {"https.createServer(handle).listen(443);", two,
       {"handle.req:http.IncomingMessage", "handle.res:http.ServerResponse"}},
      {"http.createServer(handle);", {{"handle", {"req"}}}, {"handle.req:http.IncomingMessage"}},
      {"http.createServer(handle);", {{"handle", {}}}, {}},
      {"http.createServer((req, res) => {});", two, {}},
      {"http.createServer(options, handle);", two, {}},
      {"net.createServer(handle);", two, {}},
      {"http.createServer(handle)", two, {"handle.req:http.IncomingMessage", "handle.res:http.ServerResponse"}},
      {"http.createServer(handle", two, {}},  // too close to the end
      {"http.createServer(missing);", two, {}},
      {"socket.on('data', onChunk);", {{"onChunk", {"chunk"}}}, {"onChunk.chunk:Buffer"}},
      {"socket.on(\"error\", onErr);", {{"onErr", {"err", "extra"}}}, {"onErr.err:Error"}},
      {".on('data', onChunk", {{"onChunk", {"chunk"}}}, {"onChunk.chunk:Buffer"}},
      {"socket.on('end', onEnd);", {{"onEnd", {"x"}}}, {}},
      {"socket.on('Error', onErr);", {{"onErr", {"err"}}}, {}},
      {"socket.once('error', onErr);", {{"onErr", {"err"}}}, {}},
      {"socket.on('data', (chunk) => {});", {{"chunk", {"chunk"}}}, {}},
      {"on('data', onChunk);", {{"onChunk", {"chunk"}}}, {}},
      {"server.on('error', onErr); http.createServer(onErr);", {{"onErr", {"a", "b"}}},
       {"onErr.a:http.IncomingMessage", "onErr.b:http.ServerResponse"}},
  };
  for (const Case& c : cases) EXPECT_EQ(typed_params(c.source, c.handlers), c.typed) << c.source;
}

TEST(NodeCallbacks, ResetsTheHandlersParameterShapes) {
  AnalysisResult result;
  result.funcs.push_back(func_record("handle", {"req", "res"}));
  result.funcs[0].param_shapes[0].fields.push_back({"url", TYPE_STRING});
  result.funcs[0].param_shapes[1].fields.push_back({"end", TYPE_NONE});
  analyzer6_run(result, tokenize("http.createServer(handle);"));
  EXPECT_TRUE(result.funcs[0].param_shapes[0].fields.empty());
  EXPECT_TRUE(result.funcs[0].param_shapes[1].fields.empty());
}

}  // namespace

namespace {

// Through the declaration scan, the structure capture and every pass.
TEST(NodeEcosystemPipeline, TypesDeclaredVariablesOfARealFile) {
  const AnalysisResult result = kvx_test::analyze_js(
      "const fs = require('fs');\n"
      "const path = require('path');\n"
      "const full = path.join(__dirname, 'data');\n"
      "const exists = fs.existsSync(full);\n"
      "const env = process.env;\n"
      "const bus = new EventEmitter();\n"
      "async function load(name) {\n"
      "  const stream = fs.createReadStream(name);\n"
      "  let data = await fs.readFile(name);\n"
      "  return data;\n"
      "}\n");
  struct Expected {
    const char* name;
    const char* type;  // as TypeScript text; a named type by its text
  } expected[] = {
      {"fs", "typeof import('fs')"},
      {"path", "typeof import('path')"},
      {"full", "string"},
      {"exists", "boolean"},
      {"env", "NodeJS.ProcessEnv"},
      {"bus", "EventEmitter"},
      {"stream", "fs.ReadStream"},
      {"data", "Buffer"},
  };
  for (const Expected& e : expected) {
    const VarInfo* var = nullptr;
    for (const VarInfo& candidate : result.vars) {
      if (candidate.name == e.name) var = &candidate;
    }
    ASSERT_NE(var, nullptr) << e.name;
    EXPECT_EQ(kvx_test::type_text(var->type), e.type) << e.name;
    if (var->type.kind != TYPE_NAMED) {
      EXPECT_EQ(var->type.type_name, "") << e.name;
    }
  }
}

TEST(NodeEcosystemPipeline, HandlerTypesReplaceTheShapesReadFromTheParameters) {
  const std::string source =
      "const http = require('http');\n"
      "function handle(req, res) {\n"
      "  res.end(req.url);\n"
      "}\n"
      "function onChunk(chunk) {\n"
      "  return chunk.length;\n"
      "}\n"
      "http.createServer(handle).listen(8080);\n"
      "process.stdin.on('data', onChunk);\n";
  // Before the pass the parameters carry the shapes read from them.
  const AnalysisResult before = kvx_test::analyze_js(source, 5);
  ASSERT_EQ(before.funcs.size(), 2u);
  ASSERT_FALSE(before.funcs[0].param_shapes[0].fields.empty());

  const AnalysisResult result = kvx_test::analyze_js(source);
  const FuncInfo& handle = result.funcs[0];
  EXPECT_EQ(handle.param_types[0].kind, TYPE_NAMED);
  EXPECT_EQ(handle.param_types[0].type_name, "http.IncomingMessage");
  EXPECT_EQ(handle.param_types[1].type_name, "http.ServerResponse");
  EXPECT_TRUE(handle.param_shapes[0].fields.empty());
  EXPECT_TRUE(handle.param_shapes[1].fields.empty());
  EXPECT_EQ(result.funcs[1].param_types[0].type_name, "Buffer");
  EXPECT_TRUE(result.funcs[1].param_shapes[0].fields.empty());
}

// Through the whole pipeline: the declarations and signatures the Node types reach.
TEST(NodeEcosystemPipeline, WritesNodeTypesIntoTheGeneratedFile) {
  struct Case {
    const char* source;
    std::vector<const char*> lines;
  } cases[] = {
      {"const fs = require('fs');\n", {"declare const fs: typeof import('fs');"}},
      {"const path = require('path');\nconst full = path.join('a', 'b');\n", {"declare const full: string;"}},
      {"const fs = require('fs');\nconst s = fs.createReadStream('x');\nconst w = fs.createWriteStream('y');\n",
       {"import type { ReadStream, WriteStream } from 'fs';", "declare const s: ReadStream;",
        "declare const w: WriteStream;"}},
      {"const child_process = require('child_process');\nconst child = child_process.spawn('ls');\n",
       {"import type { ChildProcess } from 'child_process';", "declare const child: ChildProcess;"}},
      {"const env = process.env;\nconst pid = process.pid;\n",
       {"declare const env: NodeJS.ProcessEnv;", "declare const pid: number;"}},
      {"const bus = new EventEmitter();\n", {"declare const bus: EventEmitter;"}},
      {"const crypto = require('crypto');\nconst h = crypto.createHash('sha256');\n",
       {"declare const h: import('crypto').Hash;"}},
      {"const http = require('http');\nfunction handle(req, res) {\n  res.end(req.url);\n}\nhttp.createServer(handle);\n",
       {"function handle(req: import('http').IncomingMessage, res: import('http').ServerResponse): void {"}},
      {"function onChunk(chunk) {\n  console.log(chunk.length);\n}\nfunction onError(err) {\n  console.log(err.message);\n}\n"
       "stream.on('data', onChunk);\nstream.on('error', onError);\n",
       {"function onChunk(chunk: Buffer): void {", "function onError(err: Error): void {"}},
  };
  for (const Case& c : cases) {
    kvx_test::ScopedWorkDir dir;
    const std::string ts = kvx_test::transpile_js(c.source);
    for (const char* line : c.lines) EXPECT_NE(ts.find(line), std::string::npos) << c.source << "\n--- wanted: " << line << "\n" << ts;
  }
}

}  // namespace
