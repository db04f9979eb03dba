// A module of geometry helpers: exported functions, constants and a class.
export const UNIT = 'cm';
export const SCALE = 10;

export function area(width, height) {
  if (width < 0 || height < 0) {
    return 0;
  }
  return width * height;
}

export function describe(label) {
  const name = label.trim();
  return `${name} (${UNIT})`;
}

export class Rect {
  constructor(width, height) {
    this.width = width;
    this.height = height;
  }

  scaled(factor = 1) {
    return true;
  }
}

export default area;
