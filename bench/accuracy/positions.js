// Finds the typed positions of a file by name path: the parameters and the
// result of each top-level function (declared, or a function expression or
// arrow given to a variable or to `exports.name`), of class constructors,
// methods and accessors, and the type of top-level values. The same walk
// reads the declared .d.ts, the compiler's .d.ts and kvx's two outputs, so a
// position found in one is looked up by the same path in the others.
//
//   fn:parse/param:0   fn:parse/result   value:VERSION
//   class:Cache/constructor/param:1   class:Cache/method:get/result
//   class:Cache/static:create/result  class:Cache/get:size/result
//   class:Cache/set:size/param:0      fn:picomatch.scan/param:0
'use strict';

function create(ts) {
  const isFunctionValue = (node) =>
    node && (ts.isFunctionExpression(node) || ts.isArrowFunction(node));

  // `exports.a.b`, `module.exports.a` -> "a.b", "a"; `X.prototype.m` is
  // returned as { className, member }; anything else null.
  function assignedName(node) {
    const parts = [];
    while (ts.isPropertyAccessExpression(node)) {
      parts.unshift(node.name.text);
      node = node.expression;
    }
    if (!ts.isIdentifier(node)) return null;
    parts.unshift(node.text);
    if (parts[0] === 'module' && parts[1] === 'exports') parts.splice(0, 2);
    else if (parts[0] === 'exports') parts.splice(0, 1);
    if (parts.length === 0) return null;
    const proto = parts.indexOf('prototype');
    if (proto > 0 && proto === parts.length - 2) {
      return { className: parts.slice(0, proto).join('.'), member: parts[proto + 1] };
    }
    return { name: parts.join('.') };
  }

  function memberName(name) {
    if (!name) return null;
    if (ts.isIdentifier(name) || ts.isStringLiteral(name) || ts.isNumericLiteral(name)) return name.text;
    if (ts.isPrivateIdentifier(name)) return null;
    return null;
  }

  // Walks `sourceFile`; returns a Map path -> position, where a position is
  // { path, kind: 'param' | 'result' | 'value', typeNode, valueNode,
  //   owner, overloaded }: typeNode is the written type (or null), valueNode
  // the declaration of a value written without a type (`declare const X =
  // "1"` in a .d.ts), owner the function-like node, overloaded set when the
  // name has more than one signature (no single declared type).
  function collect(sourceFile) {
    const positions = new Map();
    const seen = new Map(); // function path -> count of signatures

    function add(path, kind, typeNode, owner, extra) {
      if (positions.has(path)) return;
      positions.set(path, Object.assign({ path, kind, typeNode: typeNode || null, valueNode: null, owner, overloaded: false }, extra));
    }

    function signature(prefix, fn, resultToo) {
      const count = (seen.get(prefix) || 0) + 1;
      seen.set(prefix, count);
      if (count > 1) {
        // A second signature: the path has no single declared type.
        for (const [path, position] of positions) {
          if (path.startsWith(prefix + '/')) position.overloaded = true;
        }
        return;
      }
      let index = 0;
      for (const parameter of fn.parameters) {
        if (ts.isIdentifier(parameter.name) && parameter.name.text === 'this') continue;
        add(`${prefix}/param:${index}`, 'param', parameter.type, fn, {
          rest: !!parameter.dotDotDotToken,
          initializer: parameter.initializer,
          pattern: ts.isObjectBindingPattern(parameter.name) ? parameter.name : null,
        });
        index += 1;
      }
      if (resultToo) add(`${prefix}/result`, 'result', fn.type, fn);
    }

    function classMembers(name, node) {
      for (const member of node.members) {
        const isStatic = (ts.getCombinedModifierFlags(member) & ts.ModifierFlags.Static) !== 0;
        if (ts.isConstructorDeclaration(member)) {
          signature(`class:${name}/constructor`, member, false);
        } else if (ts.isMethodDeclaration(member)) {
          const key = memberName(member.name);
          if (key !== null) signature(`class:${name}/${isStatic ? 'static' : 'method'}:${key}`, member, true);
        } else if (ts.isGetAccessorDeclaration(member)) {
          const key = memberName(member.name);
          if (key !== null) add(`class:${name}/${isStatic ? 'static-get' : 'get'}:${key}/result`, 'result', member.type, member);
        } else if (ts.isSetAccessorDeclaration(member)) {
          const key = memberName(member.name);
          const parameter = member.parameters[0];
          if (key !== null && parameter) add(`class:${name}/${isStatic ? 'static-set' : 'set'}:${key}/param:0`, 'param', parameter.type, member);
        }
      }
    }

    // `var X = /** @class */ (function (_super) { function X(a) {...}
    // X.prototype.m = function (b) {...}; X.s = function () {...};
    // return X; }(Base));`, the classes of code compiled for ES5.
    function iifeClass(name, initializer) {
      let call = initializer;
      while (call && ts.isParenthesizedExpression(call)) call = call.expression;
      if (!call || !ts.isCallExpression(call)) return false;
      let callee = call.expression;
      while (ts.isParenthesizedExpression(callee)) callee = callee.expression;
      if (!ts.isFunctionExpression(callee) || !callee.body) return false;
      const body = callee.body.statements;
      const constructor = body.find((s) => ts.isFunctionDeclaration(s) && s.name && s.name.text === name);
      if (!constructor) return false;
      signature(`class:${name}/constructor`, constructor, false);
      for (const statement of body) {
        if (!ts.isExpressionStatement(statement) || !ts.isBinaryExpression(statement.expression) ||
            statement.expression.operatorToken.kind !== ts.SyntaxKind.EqualsToken) continue;
        const { left, right } = statement.expression;
        if (!isFunctionValue(right)) continue;
        const target = assignedName(left);
        if (target && target.className === name) {
          signature(`class:${name}/method:${target.member}`, right, true);
        } else if (target && target.name && target.name.startsWith(name + '.') && target.name.split('.').length === 2) {
          signature(`class:${name}/static:${target.name.slice(name.length + 1)}`, right, true);
        }
      }
      return true;
    }

    function value(name, declaration) {
      const type = declaration.type;
      if (type && ts.isFunctionTypeNode(type)) {
        signature(`fn:${name}`, type, true);
      } else if (isFunctionValue(declaration.initializer)) {
        signature(`fn:${name}`, declaration.initializer, true);
      } else if (declaration.initializer && ts.isClassExpression(declaration.initializer)) {
        classMembers(name, declaration.initializer);
      } else if (iifeClass(name, declaration.initializer)) {
        // done: a class compiled for ES5
      } else {
        add(`value:${name}`, 'value', type, declaration, { valueNode: type ? null : declaration });
      }
    }

    function statements(list, prefix) {
      for (const statement of list) {
        if (ts.isFunctionDeclaration(statement) && statement.name) {
          signature(`fn:${prefix}${statement.name.text}`, statement, true);
        } else if (ts.isFunctionDeclaration(statement)) {
          signature(`fn:${prefix}default`, statement, true);
        } else if (ts.isClassDeclaration(statement)) {
          classMembers(prefix + (statement.name ? statement.name.text : 'default'), statement);
        } else if (ts.isVariableStatement(statement)) {
          for (const declaration of statement.declarationList.declarations) {
            if (ts.isIdentifier(declaration.name)) value(prefix + declaration.name.text, declaration);
          }
        } else if (ts.isModuleDeclaration(statement) && statement.body && ts.isModuleBlock(statement.body) &&
                   ts.isIdentifier(statement.name)) {
          statements(statement.body.statements, `${prefix}${statement.name.text}.`);
        } else if (ts.isExpressionStatement(statement) && ts.isBinaryExpression(statement.expression) &&
                   statement.expression.operatorToken.kind === ts.SyntaxKind.EqualsToken) {
          const { left, right } = statement.expression;
          const target = assignedName(left);
          if (!target) continue;
          if (target.className && isFunctionValue(right)) {
            signature(`class:${target.className}/method:${target.member}`, right, true);
          } else if (target.name && isFunctionValue(right)) {
            signature(`fn:${prefix}${target.name}`, right, true);
          } else if (target.name && ts.isClassExpression(right)) {
            classMembers(prefix + target.name, right);
          }
        }
      }
    }

    statements(sourceFile.statements, '');
    return positions;
  }

  // The paths whose type the JSDoc of a JavaScript file states (@param with
  // a type, @returns/@return, @type on a value).
  function jsdocPaths(sourceFile) {
    const paths = new Set();
    for (const [path, position] of collect(sourceFile)) {
      const owner = position.owner;
      if (position.kind === 'param') {
        const index = Number(path.slice(path.lastIndexOf(':') + 1));
        const parameters = owner.parameters.filter((p) => !(ts.isIdentifier(p.name) && p.name.text === 'this'));
        const parameter = parameters[index];
        if (parameter && ts.getJSDocType(parameter)) paths.add(path);
      } else if (position.kind === 'result') {
        if (ts.isGetAccessorDeclaration(owner) ? ts.getJSDocType(owner) || ts.getJSDocReturnType(owner)
          : ts.getJSDocReturnType(owner)) paths.add(path);
      } else if (position.kind === 'value' && ts.getJSDocType(owner)) {
        paths.add(path);
      }
    }
    return paths;
  }

  return { collect, jsdocPaths };
}

module.exports = { create };
